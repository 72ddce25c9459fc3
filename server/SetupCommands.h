// The page setup and job setup of a printer, in two ways:
// - scripted, the way a user at the display would do them: the driver's hook (config_page
//   or config_job) runs on a helper thread and blocks until its dialog closes, while the
//   calling thread works the real dialog through the display's scripting interface (menus
//   chosen, fields selected and typed into, boxes clicked, OK or Cancel pressed). Every wait
//   is bounded: a dialog that does not appear or does not close is an error, never a hang.
// - shown to a person on the interactive display, where the hook runs on the calling thread
//   and returns when the person has pressed OK or Cancel; that wait has no bound.
// Either way, what the hook returns becomes the printer's settings.
#pragma once

#include <Message.h>

#include <memory>
#include <string>

class BNode;

namespace frontend {
class DriverAddOn;
}

namespace server {

struct PageSetupRequest {
	std::string printer;
	std::string paper;        // label of a Paper Size item; empty: as the dialog opens
	std::string width;        // inches, typed as given; empty: as the dialog opens
	std::string height;
	std::string orientation;  // "portrait" or "landscape"; empty: as the dialog opens
	std::string scaling;      // percent, typed as given; empty: as the dialog opens
	bool cancel = false;
	std::string screenshotFolder;  // where the dialog's picture goes before OK or Cancel
};

struct JobSetupRequest {
	std::string printer;
	std::string copies;      // typed as given; empty: as the dialog opens (1)
	std::string pages;       // "all", "FROM-TO" or one page; empty: as the dialog opens
	std::string resolution;  // "300", "150" or "75"; empty: as the dialog opens
	int blackWhite = -1;     // 1 black and white, 0 colour, -1 as the dialog opens
	bool cancel = false;
	std::string screenshotFolder;
};

struct SetupOutcome {
	bool stored = false;     // the hook answered and its settings were stored
	std::string screenshot;  // the picture taken, if any
	std::string summary;     // the stored answer in words, when there is one
	bool refused = false;    // the dialog did not take a value asked of it (a usage error)
};

// The page or job fields of settings in words: "8.5 x 11 in, portrait, scaling 100%",
// "2 copies, all pages, 150 dpi, black and white".
std::string page_setup_summary(const BMessage& settings);
std::string job_setup_summary(const BMessage& settings);

// Runs the dialog for the printer and stores the answer. False with a message when the
// printer or the driver cannot be had, when the dialog refuses what was asked of it (the
// alert's text is the message; the dialog is then cancelled), or when it does not behave.
// A cancelled dialog is no failure: outcome->stored stays false.
bool run_page_setup(const PageSetupRequest& request, SetupOutcome* outcome, std::string* error);
bool run_job_setup(const JobSetupRequest& request, SetupOutcome* outcome, std::string* error);

// The page setup or the job setup worked from the request as above, for one job: on the
// settings given instead of the printer's stored ones, by the driver given, and not stored.
// On OK the answer replaces *settings. A refused value, as above, is a failure with
// *refused set. A request to cancel is no job's setup and is refused too.
bool page_setup_for_job(const PageSetupRequest& request,
	const std::shared_ptr<frontend::DriverAddOn>& driver, BMessage* settings, bool* refused,
	std::string* error);
bool job_setup_for_job(const JobSetupRequest& request,
	const std::shared_ptr<frontend::DriverAddOn>& driver, BMessage* settings, bool* refused,
	std::string* error);

// The job fields of settings as the job setup takes them, to enter again into a dialog that
// does not open with them (it opens on one copy, and a page setup drops the job fields):
// copies, pages, resolution and black-and-white of the request left empty are filled in
// from settings, when settings hold job fields.
void fill_job_setup_from(const BMessage& settings, JobSetupRequest* request);

// "all", "FROM-TO" or a page N (taken as N-N) into the texts for the From and To fields,
// both empty for "all"; false with a message for any other shape. The numbers are the
// dialog's to judge.
bool split_page_range(const std::string& pages, std::string* from, std::string* to,
	std::string* error);

enum class SetupDialog { Page, Job };

// Shows the dialog for the printer on the interactive display (InteractiveDisplay::Open()
// must have succeeded) and stores the person's answer. Cancel is no failure; a display that
// went away while the dialog was open is.
bool show_setup_dialog(SetupDialog dialog, const std::string& printer, SetupOutcome* outcome,
	std::string* error);

// The job setup dialog confirmed with what it opens with, as a user pressing OK at once:
// config_job's result (owned by the caller), or NULL with a message.
// The driver and the node are shared with the hook's thread, which may outlive the call when
// the dialog never closes.
BMessage* confirm_job_setup(const std::shared_ptr<frontend::DriverAddOn>& driver,
	const std::shared_ptr<BNode>& printer, const BMessage& settings, std::string* error);

}  // namespace server
