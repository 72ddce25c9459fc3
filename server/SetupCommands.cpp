#include "SetupCommands.h"

#include "DeviceModel.h"
#include "DriverAddOn.h"
#include "DriverFolders.h"
#include "JobSettings.h"
#include "Printers.h"
#include "SettingsStore.h"

#include <InteractiveDisplay.h>
#include <InterfaceDefs.h>
#include <Node.h>
#include <ScriptedDisplay.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace server {

namespace {

typedef std::chrono::steady_clock Clock;

// One scripted step (find a window, read a field): generous, since a sanitizer build on a
// busy machine is slow, but bounded.
const bigtime_t kStepTimeout = 10000000;
// From OK or Cancel until the hook has returned.
const std::chrono::seconds kCloseTimeout(30);

const char kPageSetupTitle[] = "Page Setup";
const char kPrintSetupTitle[] = "Print Setup";

// A hook call on a thread of its own: the hook blocks until its dialog has closed, so the
// caller stays free to work the dialog. Whatever the call needs is shared with the thread,
// so a hook that never returns can be left behind without anything vanishing under it.
class HookCall {
public:
	explicit HookCall(std::function<BMessage*()> hook)
		: fState(std::make_shared<State>())
	{
		std::shared_ptr<State> state = fState;
		fThread = std::thread([state, hook] {
			BMessage* result = hook();
			std::lock_guard<std::mutex> guard(state->lock);
			state->result.reset(result);
			state->done = true;
			state->changed.notify_all();
		});
	}

	~HookCall()
	{
		if (Wait(std::chrono::milliseconds(0)))
			fThread.join();
		else
			fThread.detach();  // stuck in its dialog; the shared state outlives us
	}

	HookCall(const HookCall&) = delete;
	HookCall& operator=(const HookCall&) = delete;

	bool Wait(std::chrono::milliseconds timeout)
	{
		std::unique_lock<std::mutex> guard(fState->lock);
		return fState->changed.wait_for(guard, timeout, [this] { return fState->done; });
	}

	// The hook's answer, once it has returned.
	BMessage* TakeResult()
	{
		std::lock_guard<std::mutex> guard(fState->lock);
		return fState->result.release();
	}

private:
	struct State {
		std::mutex lock;
		std::condition_variable changed;
		bool done = false;
		std::unique_ptr<BMessage> result;
	};

	std::shared_ptr<State> fState;
	std::thread fThread;
};

std::string flattened_text(const std::string& text)
{
	std::string flat;
	for (char c : text) {
		if (c == '\n' || c == '\t' || c == ' ') {
			if (!flat.empty() && flat.back() != ' ')
				flat.push_back(' ');
		} else {
			flat.push_back(c);
		}
	}
	while (!flat.empty() && flat.back() == ' ')
		flat.pop_back();
	return flat;
}

std::string status_text(status_t status)
{
	return strerror_be(status);
}

// One dialog window, worked as a user works it. Every failure leaves a message that says
// which control did not do what was asked.
class DialogSession {
public:
	explicit DialogSession(const char* title) : fTitle(title) {}

	// Waits for the window; false when it does not come. When the hook has returned without
	// one, error is left empty: the hook's own message is the one to give.
	bool Open(HookCall* call, std::string* error)
	{
		Clock::time_point deadline
			= Clock::now() + std::chrono::microseconds(kStepTimeout);
		while (Clock::now() < deadline) {
			if (ScriptedDisplay::FindWindow(fTitle.c_str(), 100000, &fWindow) == B_OK)
				return true;
			if (call->Wait(std::chrono::milliseconds(0)))
				return false;
		}
		*error = "the " + fTitle + " dialog did not appear";
		return false;
	}

	bool Choose(const char* field, const std::string& item, std::string* error)
	{
		status_t status = ScriptedDisplay::ChooseMenuItem(fWindow, field, item.c_str());
		std::string marked;
		if (status == B_OK)
			status = ScriptedDisplay::GetMarkedItem(fWindow, field, &marked, kStepTimeout);
		if (status != B_OK)
			return _Failed(std::string("cannot choose from ") + field, status, error);
		if (marked != item) {
			*error = "the " + fTitle + " dialog has no \"" + item + "\" in its " + field
				+ " menu";
			fRefused = true;
			return false;
		}
		return true;
	}

	// Selects all of the field's text, types over it and commits it with Enter. The dialog
	// drops keys it does not take, so what the field ends up showing is checked.
	bool Type(const char* field, const std::string& text, std::string* error)
	{
		status_t status = ScriptedDisplay::Click(fWindow, field);
		if (status == B_OK)
			status = ScriptedDisplay::PressKey(fWindow, 'a', B_COMMAND_KEY);
		// Typing nothing over a selection leaves it; a user empties a field with Backspace.
		if (status == B_OK) {
			status = text.empty() ? ScriptedDisplay::PressKey(fWindow, B_BACKSPACE)
				: ScriptedDisplay::TypeText(fWindow, text.c_str());
		}
		if (status == B_OK)
			status = ScriptedDisplay::PressKey(fWindow, B_ENTER);
		std::string shown;
		if (status == B_OK)
			status = ScriptedDisplay::GetText(fWindow, field, &shown, kStepTimeout);
		if (status != B_OK)
			return _Failed(std::string("cannot type into ") + field, status, error);
		if (shown != text) {
			*error = std::string("the ") + field + " field does not take \"" + text
				+ "\" (it shows \"" + shown + "\")";
			fRefused = true;
			return false;
		}
		return true;
	}

	// Reading a box waits until the window has handled the input before it and what that
	// input made the controls post (a committed field, a clicked box).
	bool SetBox(const char* box, bool on, std::string* error)
	{
		int32 value = 0;
		status_t status = ScriptedDisplay::GetValue(fWindow, box, &value, kStepTimeout);
		if (status == B_OK && (value != 0) != on) {
			status = ScriptedDisplay::Click(fWindow, box);
			if (status == B_OK)
				status = ScriptedDisplay::GetValue(fWindow, box, &value, kStepTimeout);
		}
		if (status != B_OK)
			return _Failed(std::string("cannot set the ") + box + " box", status, error);
		if ((value != 0) != on) {
			*error = std::string("the ") + box + " box does not turn " + (on ? "on" : "off");
			return false;
		}
		return true;
	}

	bool Screenshot(const std::string& folder, const char* file, std::string* path,
		std::string* error)
	{
		std::error_code code;
		fs::create_directories(folder, code);
		if (code) {
			*error = "cannot create " + folder + ": " + code.message();
			return false;
		}
		*path = (fs::path(folder) / file).string();
		// Like every reading call, the screenshot waits for the controls' own messages too.
		status_t status = ScriptedDisplay::Screenshot(fWindow, path->c_str(), kStepTimeout);
		return status == B_OK || _Failed("cannot write " + *path, status, error);
	}

	// Presses OK or Cancel and waits for the hook to return. An alert instead means the
	// dialog refused its values: its text is the error, its picture goes to alertShot when
	// one is asked for, its button is pressed and the dialog cancelled, so that the hook
	// returns all the same.
	bool Press(const char* button, HookCall* call, std::string* error,
		const std::string& alertShot = std::string())
	{
		status_t status = ScriptedDisplay::Click(fWindow, button);
		if (status != B_OK)
			return _Failed(std::string("cannot press ") + button, status, error);
		Clock::time_point deadline = Clock::now() + kCloseTimeout;
		while (Clock::now() < deadline) {
			if (call->Wait(std::chrono::milliseconds(50)))
				return true;
			window_token alert;
			if (ScriptedDisplay::FindAlert(0, &alert) == B_OK) {
				std::string text;
				(void)ScriptedDisplay::GetAlertText(alert, &text, kStepTimeout);
				*error = "the " + fTitle + " dialog refused the values: " + flattened_text(text);
				fRefused = true;
				if (!alertShot.empty())
					(void)ScriptedDisplay::Screenshot(alert, alertShot.c_str(), kStepTimeout);
				_Dismiss(alert, call);
				return false;
			}
		}
		*error = "the " + fTitle + " dialog did not close";
		return false;
	}

	// Whether a failure was the dialog not taking a value asked of it.
	bool Refused() const { return fRefused; }

	// Ends the dialog after a failed step, so the hook returns.
	void Cancel(HookCall* call)
	{
		if (ScriptedDisplay::Click(fWindow, "Cancel") == B_OK)
			(void)call->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kCloseTimeout));
	}

private:
	bool _Failed(const std::string& what, status_t status, std::string* error)
	{
		*error = what + " in the " + fTitle + " dialog: " + status_text(status);
		return false;
	}

	void _Dismiss(window_token alert, HookCall* call)
	{
		if (ScriptedDisplay::PressAlertButton(alert, "I see") != B_OK)
			return;
		(void)ScriptedDisplay::WaitForClose(alert, kStepTimeout);
		Cancel(call);
	}

	std::string fTitle;
	window_token fWindow = 0;
	bool fRefused = false;
};

// What the print tool needs of one printer to run one of its dialogs.
struct DialogContext {
	std::shared_ptr<frontend::DriverAddOn> driver
		= std::make_shared<frontend::DriverAddOn>();
	std::shared_ptr<BNode> node;
	std::shared_ptr<BMessage> settings = std::make_shared<BMessage>();
	std::shared_ptr<std::string> hookError = std::make_shared<std::string>();
};

bool open_node(const std::string& printer, DialogContext* context, std::string* error)
{
	context->node = std::make_shared<BNode>(frontend::printer_folder(printer).c_str());
	if (context->node->InitCheck() != B_OK) {
		*error = "cannot open the folder of printer " + printer;
		return false;
	}
	return true;
}

bool open_context(const std::string& printer, DialogContext* context, std::string* error)
{
	PrinterInfo info;
	return find_printer(printer, &info, error)
		&& load_settings(printer, context->settings.get(), error)
		&& context->driver->Load(error) && open_node(printer, context, error);
}

// The context of a job's own setup: its driver and settings, the printer's folder.
bool job_context(const std::string& printer,
	const std::shared_ptr<frontend::DriverAddOn>& driver, const BMessage& settings,
	DialogContext* context, std::string* error)
{
	context->driver = driver;
	*context->settings = settings;
	return open_node(printer, context, error);
}

// A hook that never showed its dialog.
bool no_dialog(const std::string& hookError, std::string* error)
{
	if (error->empty()) {
		*error = !hookError.empty() ? hookError
			: "the driver returned without showing its dialog";
	}
	return false;
}

// The hook's answer, stored as the printer's settings when there is one.
bool store_answer(std::unique_ptr<BMessage> answer, const std::string& printer,
	std::string (*summary)(const BMessage&), SetupOutcome* outcome, std::string* error)
{
	if (answer == nullptr)
		return true;
	if (!save_settings(printer, *answer, error))
		return false;
	outcome->stored = true;
	outcome->summary = summary(*answer);
	return true;
}

// Works the page setup dialog of the context as the request asks; *answer is the hook's
// answer, none when the dialog was cancelled.
bool script_page_setup(const PageSetupRequest& request, const DialogContext& context,
	SetupOutcome* outcome, std::unique_ptr<BMessage>* answer, std::string* error)
{
	if (request.width.empty() != request.height.empty()) {
		*error = "give both the width and the height, or neither";
		outcome->refused = true;
		return false;
	}
	std::string orientation;
	if (request.orientation == "portrait")
		orientation = "Portrait";
	else if (request.orientation == "landscape")
		orientation = "Landscape";
	else if (!request.orientation.empty()) {
		*error = "the orientation is portrait or landscape, not " + request.orientation;
		outcome->refused = true;
		return false;
	}

	HookCall call([driver = context.driver, node = context.node, settings = context.settings,
					  hookError = context.hookError] {
		return driver->ConfigPage(node.get(), settings.get(), hookError.get());
	});
	DialogSession dialog(kPageSetupTitle);
	if (!dialog.Open(&call, error))
		return no_dialog(*context.hookError, error);

	// In the order a user goes: a paper size fills both size fields, which typed sizes then
	// replace; the orientation only turns the preview.
	bool worked = (request.paper.empty() || dialog.Choose("Paper Size:", request.paper, error))
		&& (request.width.empty() || dialog.Type("Width:", request.width, error))
		&& (request.height.empty() || dialog.Type("Height:", request.height, error))
		&& (orientation.empty() || dialog.Choose("Page Layout:", orientation, error))
		&& (request.scaling.empty() || dialog.Type("Scaling:", request.scaling, error))
		&& (request.screenshotFolder.empty()
			|| dialog.Screenshot(request.screenshotFolder, "page-setup.png",
				&outcome->screenshot, error));
	if (!worked) {
		outcome->refused = dialog.Refused();
		dialog.Cancel(&call);
		return false;
	}
	std::string alertShot = request.screenshotFolder.empty() ? std::string()
		: (fs::path(request.screenshotFolder) / "page-setup-alert.png").string();
	if (!dialog.Press(request.cancel ? "Cancel" : "OK", &call, error, alertShot)) {
		outcome->refused = dialog.Refused();
		return false;
	}
	answer->reset(call.TakeResult());
	return true;
}

// Works the job setup dialog of the context as the request asks; *answer is the hook's
// answer, none when the dialog was cancelled.
bool script_job_setup(const JobSetupRequest& request, const DialogContext& context,
	SetupOutcome* outcome, std::unique_ptr<BMessage>* answer, std::string* error)
{
	std::string from;
	std::string to;
	if (!split_page_range(request.pages, &from, &to, error)) {
		outcome->refused = true;
		return false;
	}
	std::string resolution;
	for (const device::Resolution& offered : device::kResolutions) {
		if (request.resolution == std::to_string(offered.dpi))
			resolution = offered.label;
	}
	if (resolution.empty() && !request.resolution.empty()) {
		*error = "the resolution is " + device::resolutions_in_words() + ", not "
			+ request.resolution;
		outcome->refused = true;
		return false;
	}

	HookCall call([driver = context.driver, node = context.node, settings = context.settings,
					  hookError = context.hookError] {
		return driver->ConfigJob(node.get(), settings.get(), hookError.get());
	});
	DialogSession dialog(kPrintSetupTitle);
	if (!dialog.Open(&call, error))
		return no_dialog(*context.hookError, error);

	// Typing a page number switches the dialog to the range by itself; the boxes are set
	// afterwards all the same, so the request holds whatever the fields held before.
	bool worked = (request.copies.empty() || dialog.Type("Copies:", request.copies, error))
		&& (from.empty() || dialog.Type("From:", from, error))
		&& (to.empty() || dialog.Type("To:", to, error))
		&& (request.pages.empty() || dialog.SetBox(from.empty() ? "All Pages" : "Pages", true,
			error))
		&& (resolution.empty() || dialog.Choose("Resolution:", resolution, error))
		&& (request.blackWhite < 0
			|| dialog.SetBox("Black/White print", request.blackWhite != 0, error))
		&& (request.screenshotFolder.empty()
			|| dialog.Screenshot(request.screenshotFolder, "job-setup.png",
				&outcome->screenshot, error));
	if (!worked) {
		outcome->refused = dialog.Refused();
		dialog.Cancel(&call);
		return false;
	}
	std::string alertShot = request.screenshotFolder.empty() ? std::string()
		: (fs::path(request.screenshotFolder) / "job-setup-alert.png").string();
	if (!dialog.Press(request.cancel ? "Cancel" : "OK", &call, error, alertShot)) {
		outcome->refused = dialog.Refused();
		return false;
	}
	answer->reset(call.TakeResult());
	return true;
}

// The answer of a job's own setup in place of its settings; a cancelled dialog is a failure,
// as the job has no settings then.
bool take_job_answer(std::unique_ptr<BMessage> answer, const char* what, BMessage* settings,
	std::string* error)
{
	if (answer == nullptr) {
		*error = std::string("the ") + what + " dialog gave no answer";
		return false;
	}
	*settings = *answer;
	return true;
}

// The job setup's fields of a job's settings, as the dialog leaves them, with the
// dialog's own defaults for those missing.
struct JobFields {
	int16 copies = 1;
	int32 firstPage = 1;
	int32 lastPage = -1;  // -1: all pages
	int32 resolution = 0;
	int16 bw = 0;

	explicit JobFields(const BMessage& settings)
	{
		settings.FindInt16(kCopiesField, &copies);
		settings.FindInt32(kFirstPageField, &firstPage);
		settings.FindInt32(kLastPageField, &lastPage);
		settings.FindInt32(kXResField, &resolution);
		settings.FindInt16(kBWModeField, &bw);
	}
};

}  // namespace

std::string page_setup_summary(const BMessage& settings)
{
	float width = 0;
	float height = 0;
	float scaling = 100;
	int8 layout = 0;
	settings.FindFloat(kPageWidthField, &width);
	settings.FindFloat(kPageHeightField, &height);
	settings.FindFloat(kScalingField, &scaling);
	settings.FindInt8(kLayoutField, &layout);
	char text[160];
	snprintf(text, sizeof(text), "%g x %g in, %s, scaling %g%%", static_cast<double>(width),
		static_cast<double>(height), layout == 1 ? "landscape" : "portrait",
		static_cast<double>(scaling));
	return text;
}

std::string job_setup_summary(const BMessage& settings)
{
	JobFields job(settings);
	std::string pages = job.lastPage < 0 ? std::string("all pages")
		: "pages " + std::to_string(job.firstPage) + " to " + std::to_string(job.lastPage);
	char text[160];
	snprintf(text, sizeof(text), "%d cop%s, %s, %d dpi, %s", static_cast<int>(job.copies),
		job.copies == 1 ? "y" : "ies", pages.c_str(), static_cast<int>(job.resolution),
		job.bw != 0 ? "black and white" : "colour");
	return text;
}

bool run_page_setup(const PageSetupRequest& request, SetupOutcome* outcome, std::string* error)
{
	DialogContext context;
	std::unique_ptr<BMessage> answer;
	return open_context(request.printer, &context, error)
		&& script_page_setup(request, context, outcome, &answer, error)
		&& store_answer(std::move(answer), request.printer, page_setup_summary, outcome, error);
}

bool run_job_setup(const JobSetupRequest& request, SetupOutcome* outcome, std::string* error)
{
	DialogContext context;
	std::unique_ptr<BMessage> answer;
	return open_context(request.printer, &context, error)
		&& script_job_setup(request, context, outcome, &answer, error)
		&& store_answer(std::move(answer), request.printer, job_setup_summary, outcome, error);
}

namespace {

// A dialog worked on the settings of one job, whose answer replaces them; `what` names the
// dialog in the errors.
template <typename Request>
bool setup_for_job(const Request& request,
	bool (*script)(const Request&, const DialogContext&, SetupOutcome*,
		std::unique_ptr<BMessage>*, std::string*),
	const char* what, const std::shared_ptr<frontend::DriverAddOn>& driver,
	BMessage* settings, bool* refused, std::string* error)
{
	SetupOutcome outcome;
	DialogContext context;
	std::unique_ptr<BMessage> answer;
	if (request.cancel) {
		*refused = true;
		*error = std::string("a job's ") + what + " cannot be cancelled";
		return false;
	}
	bool done = job_context(request.printer, driver, *settings, &context, error)
		&& script(request, context, &outcome, &answer, error)
		&& take_job_answer(std::move(answer), what, settings, error);
	*refused = outcome.refused;
	return done;
}

}  // namespace

bool page_setup_for_job(const PageSetupRequest& request,
	const std::shared_ptr<frontend::DriverAddOn>& driver, BMessage* settings, bool* refused,
	std::string* error)
{
	return setup_for_job(request, script_page_setup, "page setup", driver, settings, refused,
		error);
}

bool job_setup_for_job(const JobSetupRequest& request,
	const std::shared_ptr<frontend::DriverAddOn>& driver, BMessage* settings, bool* refused,
	std::string* error)
{
	return setup_for_job(request, script_job_setup, "job setup", driver, settings, refused,
		error);
}

void fill_job_setup_from(const BMessage& settings, JobSetupRequest* request)
{
	if (!has_job_fields(settings))
		return;
	JobFields job(settings);
	if (request->copies.empty())
		request->copies = std::to_string(job.copies);
	if (request->pages.empty()) {
		request->pages = job.lastPage < 0 ? std::string("all")
			: std::to_string(job.firstPage) + "-" + std::to_string(job.lastPage);
	}
	if (request->resolution.empty())
		request->resolution = std::to_string(job.resolution);
	if (request->blackWhite < 0)
		request->blackWhite = job.bw != 0 ? 1 : 0;
}

bool split_page_range(const std::string& pages, std::string* from, std::string* to,
	std::string* error)
{
	from->clear();
	to->clear();
	if (pages.empty() || pages == "all")
		return true;
	size_t dash = pages.find('-');
	if (dash == std::string::npos) {
		*from = pages;
		*to = pages;
		return true;
	}
	if (dash == 0 || dash + 1 == pages.size() || pages.find('-', dash + 1) != std::string::npos) {
		*error = "the pages are \"all\", FROM-TO or one page, not \"" + pages + "\"";
		return false;
	}
	*from = pages.substr(0, dash);
	*to = pages.substr(dash + 1);
	return true;
}

bool show_setup_dialog(SetupDialog dialog, const std::string& printer, SetupOutcome* outcome,
	std::string* error)
{
	DialogContext context;
	if (!open_context(printer, &context, error))
		return false;
	bool page = dialog == SetupDialog::Page;
	std::unique_ptr<BMessage> answer(page
		? context.driver->ConfigPage(context.node.get(), context.settings.get(),
			context.hookError.get())
		: context.driver->ConfigJob(context.node.get(), context.settings.get(),
			context.hookError.get()));
	// A dialog that lost its screen ends cancelled: say why rather than "cancelled".
	if (answer == nullptr && InteractiveDisplay::ConnectionLost()) {
		*error = "the X display went away while the dialog was open; the settings are "
			"unchanged";
		return false;
	}
	if (answer == nullptr && !context.hookError->empty()) {
		*error = *context.hookError;
		return false;
	}
	return store_answer(std::move(answer), printer,
		page ? page_setup_summary : job_setup_summary, outcome, error);
}

BMessage* confirm_job_setup(const std::shared_ptr<frontend::DriverAddOn>& driver,
	const std::shared_ptr<BNode>& printer, const BMessage& settings, std::string* error)
{
	std::shared_ptr<BMessage> copy = std::make_shared<BMessage>(settings);
	std::shared_ptr<std::string> hookError = std::make_shared<std::string>();
	HookCall call([driver, printer, copy, hookError] {
		return driver->ConfigJob(printer.get(), copy.get(), hookError.get());
	});
	DialogSession dialog(kPrintSetupTitle);
	if (!dialog.Open(&call, error)) {
		no_dialog(*hookError, error);
		return nullptr;
	}
	if (!dialog.Press("OK", &call, error))
		return nullptr;
	BMessage* answer = call.TakeResult();
	if (answer == nullptr)
		*error = "the job setup dialog gave no answer";
	return answer;
}

}  // namespace server
