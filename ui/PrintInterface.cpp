#include "PrintInterface.h"

#include "DialogValues.h"
#include "JobSettings.h"

#include <Alert.h>
#include <Box.h>
#include <Button.h>
#include <CheckBox.h>
#include <Font.h>
#include <MenuField.h>
#include <MenuItem.h>
#include <Message.h>
#include <OS.h>
#include <PopUpMenu.h>
#include <StringView.h>
#include <TextControl.h>

#include <cstdio>

const std::array<const char*, device::kResolutionCount> quality_labels
	= device::resolution_labels();

const char* const CopiesLabel = "Copies:";
const char* const FromLabel = "From:";
const char* const ToLabel = "To:";
const char* const Resolution = "Resolution:";

namespace {

// "cmd_code" of the window's control messages; the Copies field sends none.
enum : int8 {
	kCancelCode = 0,
	kOKCode = 1,
	kResolutionCode = 7,
	kFromCode = 8,
	kToCode = 9,
	kAllPagesCode = 10,
	kPagesCode = 11,
	kBlackWhiteCode = 12,
};

const char kInvalidText[] = "\nInvalid Values!\nCheck the number of copies and pages.";

BMessage* command_message(int8 code)
{
	BMessage* message = new BMessage(uint32(0));
	message->AddInt8(kCmdCodeField, code);
	return message;
}

long long field_number(const BTextControl* field)
{
	return entry_number(field->Text());
}

}  // namespace

// PrintSetupKeyFilter

filter_result PrintSetupKeyFilter(BMessage* message, BHandler**, BMessageFilter*)
{
	int8 key;
	return number_key_passes(message, &key) ? B_DISPATCH_MESSAGE : B_SKIP_MESSAGE;
}

// PrintSetupWindow

PrintSetupWindow::PrintSetupWindow(BRect& frame, const char* title, window_look look,
	window_feel feel, uint32 flags, uint32 workspace, BMessage* settings)
	: BWindow(frame, title, look, feel, flags, workspace),
	  quality_index(0),
	  result_msg(settings),
	  key_filter(new BMessageFilter(B_ANY_DELIVERY, B_ANY_SOURCE, B_KEY_DOWN,
		  PrintSetupKeyFilter))
{
	AddCommonFilter(key_filter);
}

PrintSetupWindow::~PrintSetupWindow()
{
	// Ended by neither button (a quit request from elsewhere): whatever "status" the copied
	// settings held, the answer is "cancelled".
	if (!answered)
		store_field(result_msg, kStatusField, int32(-1));
}

void PrintSetupWindow::MessageReceived(BMessage* message)
{
	int8 code;
	if (message->FindInt8(kCmdCodeField, &code) != B_OK)
		return;  // the Copies field's own message among others
	switch (code) {
		case kCancelCode:
			_Cancel();
			break;
		case kOKCode:
			_Confirm();
			break;
		case kResolutionCode:
			_ResolutionChosen(message);
			break;
		case kFromCode:
		case kToCode:
			_RangeTyped();
			break;
		case kAllPagesCode:
			_AllPagesClicked();
			break;
		case kPagesCode:
			_PagesClicked();
			break;
		case kBlackWhiteCode:
			break;  // read at OK
		default:
			break;
	}
}

void PrintSetupWindow::_Cancel()
{
	store_field(result_msg, kStatusField, int32(-1));
	answered = true;
	Lock();
	Quit();
}

void PrintSetupWindow::_Confirm()
{
	long long copies = field_number(copies_text);
	bool pageRange = pages_box->Value() != 0;
	long long from = pageRange ? field_number(from_text) : 0;
	long long to = pageRange ? field_number(to_text) : 0;
	if (!job_entries_valid(copies, pageRange, from, to)) {
		_ShowInvalidAlert();
		return;
	}

	// Checked above: every number fits its 16-bit field.
	store_field(result_msg, kStatusField, int32(0));
	store_field(result_msg, kCopiesField, int16(copies));
	store_field(result_msg, kCountTypeField, int8(pageRange ? 1 : 0));
	if (pageRange) {
		store_field(result_msg, kFromField, int16(from));
		store_field(result_msg, kToField, int16(to));
	}
	store_field(result_msg, kBWModeField, int16(bw_box->Value() != 0 ? 1 : 0));
	store_field(result_msg, kQualityTypeField, quality_index);
	answered = true;
	Lock();
	Quit();
}

void PrintSetupWindow::_ResolutionChosen(BMessage* message)
{
	int8 index;
	if (message->FindInt8(kFormatChosenField, &index) == B_OK && index >= 0 && index <= 2)
		quality_index = index;
}

void PrintSetupWindow::_RangeTyped()
{
	all_pages_box->SetValue(B_CONTROL_OFF);
	pages_box->SetValue(B_CONTROL_ON);
}

// The two range boxes are a pair with exactly one on: the clicked one has toggled itself,
// the other follows.
void PrintSetupWindow::_AllPagesClicked()
{
	pages_box->SetValue(all_pages_box->Value() == B_CONTROL_OFF ? B_CONTROL_ON : B_CONTROL_OFF);
}

void PrintSetupWindow::_PagesClicked()
{
	all_pages_box->SetValue(pages_box->Value() == B_CONTROL_OFF ? B_CONTROL_ON : B_CONTROL_OFF);
}

void PrintSetupWindow::_ShowInvalidAlert()
{
	BAlert* alert = new BAlert("alert_window", kInvalidText, "I see", nullptr, nullptr,
		B_WIDTH_AS_USUAL, B_INFO_ALERT);
	(void)alert->Go();  // one button; the alert deletes itself
}

// PrintSetupInterface

BMessage* PrintSetupInterface::RunInterface(BMessage* settings)
{
	BMessage* okMessage = new BMessage(uint32(0));
	BMessage* cancelMessage = new BMessage(uint32(0));
	BFont headFont(be_bold_font);

	// The previous answer, each field only when it is there with its type. Values this
	// dialog never stores fall back to the ones it does: a row of the resolution table, and
	// 0 or 1 for the boxes.
	int8 quality = 0;
	int8 countType = 0;
	int16 bwMode = 0;
	int16 from = 1;
	int16 to = 1;
	if (settings->HasInt8(kQualityTypeField))
		settings->FindInt8(kQualityTypeField, &quality);
	if (settings->HasInt8(kCountTypeField))
		settings->FindInt8(kCountTypeField, &countType);
	if (settings->HasInt16(kBWModeField))
		settings->FindInt16(kBWModeField, &bwMode);
	if (settings->HasInt16(kFromField))
		settings->FindInt16(kFromField, &from);
	if (settings->HasInt16(kToField))
		settings->FindInt16(kToField, &to);
	if (quality < 0 || quality > 2)
		quality = 0;
	bool pageRange = countType != 0;

	BRect frame(100, 100, 500, 340);
	PrintSetupWindow* window = new PrintSetupWindow(frame, "Print Setup", B_TITLED_WINDOW_LOOK,
		B_MODAL_APP_WINDOW_FEEL, B_NOT_RESIZABLE | B_NOT_CLOSABLE | B_NOT_ZOOMABLE,
		B_CURRENT_WORKSPACE, settings);
	window->quality_index = quality;

	const uint32 inputFlags = B_WILL_DRAW | B_NAVIGABLE;
	const uint32 follow = B_FOLLOW_LEFT | B_FOLLOW_TOP;

	BBox* background = new BBox(BRect(0, 0, 400, 240), nullptr, follow, B_WILL_DRAW,
		B_FANCY_BORDER);
	window->AddChild(background);

	BBox* separator = new BBox(BRect(10, 180, 390, 181), nullptr, follow,
		B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE_JUMP, B_FANCY_BORDER);
	background->AddChild(separator);

	BPopUpMenu* resolutionMenu = new BPopUpMenu("", true, true, B_ITEMS_IN_COLUMN);
	BMenuField* resolutionField = new BMenuField(BRect(20, 150, 200, 170), "Resolution",
		Resolution, resolutionMenu, follow, inputFlags);
	resolutionField->SetDivider(60);
	background->AddChild(resolutionField);

	BStringView* head = new BStringView(BRect(10, 10, 398, 40), "stringview", HeadText, follow,
		B_WILL_DRAW);
	headFont.SetSize(23);
	headFont.SetSpacing(B_CHAR_SPACING);
	head->SetFont(&headFont, B_FONT_ALL);
	background->AddChild(head);

	// The number of copies always starts at one, whatever was printed last.
	window->copies_text = new BTextControl(BRect(20, 60, 150, 70), "textcontrol", CopiesLabel,
		"1", new BMessage(uint32(0)), follow, inputFlags);
	window->copies_text->SetDivider(39);
	background->AddChild(window->copies_text);

	window->all_pages_box = new BCheckBox(BRect(43, 90, 130, 110), "Check Box", "All Pages",
		command_message(kAllPagesCode), follow, inputFlags);
	window->all_pages_box->SetValue(pageRange ? B_CONTROL_OFF : B_CONTROL_ON);
	background->AddChild(window->all_pages_box);

	window->pages_box = new BCheckBox(BRect(43, 120, 130, 140), "Check Box", "Pages",
		command_message(kPagesCode), follow, inputFlags);
	window->pages_box->SetValue(pageRange ? B_CONTROL_ON : B_CONTROL_OFF);
	background->AddChild(window->pages_box);

	window->bw_box = new BCheckBox(BRect(250, 150, 350, 170), "Check Box", "Black/White print",
		command_message(kBlackWhiteCode), follow, inputFlags);
	window->bw_box->SetValue(bwMode != 0 ? B_CONTROL_ON : B_CONTROL_OFF);
	background->AddChild(window->bw_box);

	// With all pages chosen, an old range stays out of sight.
	char fromText[16] = "";
	char toText[16] = "";
	if (pageRange) {
		snprintf(fromText, sizeof(fromText), "%d", static_cast<int>(from));
		snprintf(toText, sizeof(toText), "%d", static_cast<int>(to));
	}
	window->from_text = new BTextControl(BRect(113, 120, 200, 140), "textcontrol", FromLabel,
		fromText, command_message(kFromCode), follow, inputFlags);
	window->from_text->SetDivider(40);
	background->AddChild(window->from_text);

	window->to_text = new BTextControl(BRect(217, 120, 295, 140), "textcontrol", ToLabel,
		toText, command_message(kToCode), follow, inputFlags);
	window->to_text->SetDivider(25);
	background->AddChild(window->to_text);

	okMessage->AddInt8(kCmdCodeField, kOKCode);
	BButton* okButton = new BButton(BRect(187, 200, 240, 220), "nonameOK", "OK", okMessage,
		follow, inputFlags);
	background->AddChild(okButton);
	window->SetDefaultButton(okButton);

	cancelMessage->AddInt8(kCmdCodeField, kCancelCode);
	BButton* cancelButton = new BButton(BRect(270, 200, 340, 220), "nonameCancel", "Cancel",
		cancelMessage, follow, inputFlags);
	background->AddChild(cancelButton);

	for (int8 index = 0; index < device::kResolutionCount; index++) {
		BMessage* message = command_message(kResolutionCode);
		message->AddInt8(kFormatChosenField, index);
		BMenuItem* item = new BMenuItem(quality_labels[index], message, 0, 0);
		resolutionMenu->AddItem(item);
		if (index == quality)
			item->SetMarked(true);
	}

	// Held across Show() so the window cannot handle anything, let alone quit, before its
	// thread is known: waiting on that very thread, not on a thread found by the title that
	// another Print Setup window may share, is what keeps this call until its window is gone.
	window->Lock();
	window->Show();
	thread_id thread = window->Thread();
	window->Unlock();
	status_t exitValue;
	(void)wait_for_thread(thread, &exitValue);  // the thread's exit value means nothing here
	return settings;
}
