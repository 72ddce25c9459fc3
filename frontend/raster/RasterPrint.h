// Raster pages through the driver, as the CUPS filter and the printer application's jobs
// print them: every page becomes a spool of one page in memory (its pixels at the raster's
// resolution, which the band renderer draws 1:1) and a driver job of its own. Every sheet of
// the driver's stream carries its own page header and form feed, so a job's stream is its
// pages' streams one after the other: the bytes of one spool file of the whole job, while
// memory holds one page and the printer has page one while page two is still being read.
//
// A page the driver cannot print (a resolution it does not offer, a paper beyond its
// limits) is refused before any byte of it is written: the driver is asked first with a job
// of no pages, which it refuses or sends as nothing, once for each new set of settings.
#pragma once

#include "JobAccount.h"
#include "MemorySpool.h"
#include "RasterPage.h"
#include "Spool.h"

#include <Message.h>

#include <cups/raster.h>

#include <functional>
#include <optional>
#include <string>

namespace frontend {

class DriverAddOn;

class RasterPrinter {
public:
	// Prints into the printer's folder `folder`.
	RasterPrinter(DriverAddOn* driver, const std::string& folder, const std::string& jobName);

	// Whether the driver prints pages of this page's settings; the reason when it does not.
	bool Takes(const RasterPage& page, const BMessage& settings, std::string* refusal);

	enum class Result { kPrinted, kCancelled, kFailed };
	struct PageOutcome {
		Result result = Result::kFailed;
		JobAccount account;        // the page's driver job, when it ran
		std::string reason;        // kFailed: why, in the driver's or the spool's words
		bool rasterCut = false;    // kFailed: the raster ended inside the page
		unsigned rowsRead = 0;     // of the page's rows
	};

	// Reads the rows of the page whose header was read and prints it with `settings`.
	// `cancelled` is asked between rows.
	PageOutcome PrintPage(cups_raster_t* raster, const cups_page_header2_t& header,
		const RasterPage& page, const BMessage& settings,
		const std::function<bool()>& cancelled);

private:
	bool _OpenSpool(const BMessage& settings, SpoolWriter* writer, std::string* error);
	JobAccount _TakeJob(const BMessage& settings);

	DriverAddOn* fDriver;
	std::string fFolder;
	MemorySpool fSpool;
	std::string fJobName;
	std::optional<RasterPage> fAsked;  // the settings the driver last said it takes
};

}  // namespace frontend
