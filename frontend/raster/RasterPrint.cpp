#include "RasterPrint.h"

#include "DriverRun.h"
#include "PixelPage.h"
#include "SpoolFeed.h"

#include <File.h>

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace frontend {

RasterPrinter::RasterPrinter(DriverAddOn* driver, const std::string& folder,
	const std::string& jobName)
	:
	fDriver(driver),
	fFolder(folder),
	fJobName(jobName)
{
}

bool RasterPrinter::_OpenSpool(const BMessage& settings, SpoolWriter* writer,
	std::string* error)
{
	return (fSpool.IsOpen() || fSpool.Create(error))
		&& writer->Open(fSpool.Path(), settings, error);
}

JobAccount RasterPrinter::_TakeJob(const BMessage& settings)
{
	JobAccount account;
	std::string error;
	{
		// What the driver has read of the page is freed as it reads on.
		SpoolReadFile spool(fSpool.Path().c_str(), nullptr, false, 0);
		spool.SetDiscard([this](off_t from, off_t to) { fSpool.Discard(from, to); });
		if (!run_driver_job(fDriver, fFolder, &spool, settings, fJobName, &account, &error)) {
			account = JobAccount();
			account.fault = JobAccount::Fault::no_record;
		}
	}
	fSpool.Reset();
	return account;
}

bool RasterPrinter::Takes(const RasterPage& page, const BMessage& settings,
	std::string* refusal)
{
	if (fAsked && fAsked->SameSettings(page))
		return true;
	SpoolWriter spool;
	if (!_OpenSpool(settings, &spool, refusal) || !spool.Close(refusal))
		return false;
	JobAccount account = _TakeJob(settings);
	*refusal = account_reason(account);
	if (!account.Printed())
		return false;
	fAsked = page;
	return true;
}

RasterPrinter::PageOutcome RasterPrinter::PrintPage(cups_raster_t* raster,
	const cups_page_header2_t& header, const RasterPage& page, const BMessage& settings,
	const std::function<bool()>& cancelled)
{
	PageOutcome outcome;
	SpoolWriter spool;
	PixelPageWriter pixels;
	auto sink = [&spool](const SpooledPicture& strip, std::string* stripError) {
		return spool.AddPicture(strip, stripError);
	};
	if (!_OpenSpool(settings, &spool, &outcome.reason) || !spool.BeginPage(&outcome.reason)
		|| !pixels.Begin(page.Area(), page.PixelFormat(), sink, &outcome.reason))
		return outcome;

	// Every row of the raster is read; those outside the printable area are left out, and
	// the driver's rows above a raster that begins lower are white.
	std::vector<uint8> row(header.cupsBytesPerLine);
	RasterRows rows(page);
	for (int32 y = 0; y < std::min(page.shiftY, page.rows); y++) {
		if (!pixels.AddRow(rows.White(), &outcome.reason))
			return outcome;
	}
	for (unsigned y = 0; y < header.cupsHeight; y++) {
		if (cancelled()) {
			outcome.result = Result::kCancelled;
			return outcome;
		}
		if (cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine)
			!= header.cupsBytesPerLine) {
			outcome.result = cancelled() ? Result::kCancelled : Result::kFailed;
			outcome.rasterCut = true;
			return outcome;
		}
		outcome.rowsRead = y + 1;
		int64 driverRow = page.DriverRow(y);
		if (driverRow >= 0 && driverRow < page.rows
			&& !pixels.AddRow(rows.Convert(row.data()), &outcome.reason))
			return outcome;
	}
	if (!pixels.Finish(&outcome.reason) || !spool.EndPage(&outcome.reason)
		|| !spool.Close(&outcome.reason))
		return outcome;

	outcome.account = _TakeJob(settings);
	const JobAccount& account = outcome.account;
	if ((account.recorded && account.job.stop == JobStop::interrupted) || cancelled())
		outcome.result = Result::kCancelled;
	else if (!account.Printed())
		outcome.reason = account_reason(account);
	else
		outcome.result = Result::kPrinted;
	return outcome;
}

}  // namespace frontend
