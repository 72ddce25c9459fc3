// The setup dialogs as a person meets them: `tessary page-setup NAME` and `tessary job-setup
// NAME` on a private X server, worked with real X input, their windows read back from the
// screen and compared with the headless rendering of the same dialog in the same state.
//
// The pictures taken go to display-screens/ in the build folder.

#include "Printers.h"
#include "SettingsStore.h"
#include "XServer.h"
#include "support/TempRoot.h"

#include <Message.h>

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace fs = std::filesystem;
using x_test::Client;
using x_test::Picture;

namespace {

const std::string kScreens = std::string(TESSARY_BUILD_DIR) + "/display-screens";

std::string read_text(const std::string& path)
{
	std::ifstream file(path);
	return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The print tool in a process of its own, DISPLAY set as asked (unset for ""); what it
// prints goes to files in the folder. A tool still running at the end is killed.
class Tool {
public:
	Tool(const std::vector<std::string>& arguments, const std::string& display,
		const std::string& folder)
		: fOutput(folder + "/stdout.txt"), fErrors(folder + "/stderr.txt")
	{
		std::vector<std::string> environment;
		for (char** variable = environ; *variable != nullptr; variable++) {
			if (strncmp(*variable, "DISPLAY=", 8) != 0)
				environment.push_back(*variable);
		}
		if (!display.empty())
			environment.push_back("DISPLAY=" + display);
		std::vector<char*> envp;
		for (std::string& variable : environment)
			envp.push_back(variable.data());
		envp.push_back(nullptr);
		std::string program = std::string(TESSARY_BUILD_DIR) + "/server/tessary";
		std::vector<std::string> words = {program};
		words.insert(words.end(), arguments.begin(), arguments.end());
		std::vector<char*> argv;
		for (std::string& word : words)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		posix_spawn_file_actions_t actions;
		posix_spawn_file_actions_init(&actions);
		posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
		posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, fOutput.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, fErrors.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (posix_spawn(&fPid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
			fPid = -1;
		posix_spawn_file_actions_destroy(&actions);
	}

	~Tool()
	{
		if (fPid > 0 && !fEnded) {
			kill(fPid, SIGKILL);
			waitpid(fPid, nullptr, 0);
		}
	}

	// The exit status once it has ended; -1 when it does not end in time.
	int Wait()
	{
		if (fPid <= 0)
			return -1;
		if (!fEnded) {
			int status = 0;
			if (!x_test::wait_for_exit(fPid, x_test::Clock::now() + x_test::kWait, &status))
				return -1;
			fEnded = true;
			fStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
		}
		return fStatus;
	}

	std::string Output() { return read_text(fOutput); }
	std::string Errors() { return read_text(fErrors); }

private:
	std::string fOutput;
	std::string fErrors;
	pid_t fPid = -1;
	bool fEnded = false;
	int fStatus = -1;
};

// Points of the dialogs that a person clicks, in window coordinates: the middle of the
// control, right of its label.
struct Spot {
	int x;
	int y;
};
const Spot kPaperSize = {110, 65};
const Spot kScaling = {140, 160};
const Spot kCopies = {100, 65};
const Spot kBlackWhite = {300, 160};
const Spot kOK = {213, 210};
const Spot kCancel = {305, 210};

class DialogOnScreen : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_TRUE(fServer.Running()) << fServer.Error();
		fClient = std::make_unique<Client>(fServer.Name());
		ASSERT_TRUE(fClient->Connected());
		std::string error;
		ASSERT_TRUE(server::add_printer("Desk", "File", fRoot.Sub("out.pcl"), &error)) << error;
		fs::create_directories(kScreens);
	}

	std::string Folder(const std::string& name)
	{
		std::string folder = fRoot.Sub(name);
		fs::create_directories(folder);
		return folder;
	}

	// The headless dialog's picture, as the tool takes it when worked with options.
	Picture Headless(std::vector<std::string> arguments, const char* file, int status = 0)
	{
		std::string folder = Folder("headless");
		arguments.push_back("--screenshot");
		arguments.push_back(folder);
		Tool tool(arguments, "", folder);
		EXPECT_EQ(tool.Wait(), status) << tool.Errors();
		return Picture::FromPng(folder + "/" + file);
	}

	// The dialog on the screen, given the keyboard as a window manager would.
	xcb_window_t Window(const char* title)
	{
		xcb_window_t window = fClient->WaitForWindow(title);
		EXPECT_NE(window, static_cast<xcb_window_t>(XCB_NONE)) << "no " << title << " window";
		if (window != XCB_NONE)
			fClient->Focus(window);
		return window;
	}

	void ExpectShows(xcb_window_t window, const Picture& expected, const std::string& name)
	{
		Picture shown;
		std::string difference = fClient->WaitForPicture(window, expected, &shown);
		shown.WritePng(kScreens + "/" + name + ".png");
		if (!difference.empty())
			expected.WritePng(kScreens + "/" + name + "-headless.png");
		EXPECT_EQ(difference, "") << "the screen against the headless rendering, " << name;
	}

	void Click(xcb_window_t window, Spot spot) { fClient->Click(window, spot.x, spot.y); }

	// Replaces a field's text as a person does: click into it, select all, type.
	void TypeInto(xcb_window_t window, Spot field, const std::string& text)
	{
		Click(window, field);
		fClient->Key('a', true);
		fClient->Type(text);
	}

	std::string SettingsText()
	{
		BMessage settings;
		std::string error;
		EXPECT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
		return server::describe_settings(settings);
	}

	TempRoot fRoot;
	x_test::Xvfb fServer;
	std::unique_ptr<Client> fClient;
};

TEST_F(DialogOnScreen, PageSetupTakesATypedScalingAndAPaperFromItsMenu)
{
	Picture opened = Headless({"page-setup", "Desk", "--cancel"}, "page-setup.png");
	Picture filled = Headless({"page-setup", "Desk", "--paper", "A4", "--scaling", "75",
		"--cancel"}, "page-setup.png");

	Tool tool({"page-setup", "Desk"}, fServer.Name(), Folder("shown"));
	xcb_window_t dialog = Window("Page Setup");
	ASSERT_NE(dialog, static_cast<xcb_window_t>(XCB_NONE)) << tool.Errors();
	ExpectShows(dialog, opened, "page-setup-opened");
	// A dialog of a fixed size, for the window manager.
	EXPECT_EQ(fClient->AtomNames(dialog, "_NET_WM_WINDOW_TYPE"),
		std::vector<std::string>{"_NET_WM_WINDOW_TYPE_DIALOG"});
	std::vector<uint32_t> hints = fClient->Property(dialog, "WM_NORMAL_HINTS");
	ASSERT_GE(hints.size(), 9u);
	EXPECT_EQ(std::vector<uint32_t>(hints.begin() + 5, hints.begin() + 9),
		(std::vector<uint32_t>{401, 241, 401, 241})) << "the smallest and largest size";

	// The paper menu opens under its field; a click on A4 chooses it and closes the menu.
	Click(dialog, kPaperSize);
	xcb_window_t menu = fClient->WaitForWindow("Paper Size:");
	ASSERT_NE(menu, static_cast<xcb_window_t>(XCB_NONE));
	x_test::Frame field = fClient->FrameOf(dialog);
	x_test::Frame under = fClient->FrameOf(menu);
	EXPECT_EQ(under.x, field.x + 80);
	EXPECT_EQ(under.y, field.y + 71);
	fClient->Screen(under).WritePng(kScreens + "/page-setup-paper-menu.png");
	int row = (under.height - 2) / 7;
	fClient->Click(menu, under.width / 2, 1 + 2 * row + row / 2);
	EXPECT_TRUE(fClient->WaitUntilGone(menu));

	// The letter is dropped by the dialog's key filter; Enter commits the field.
	TypeInto(dialog, kScaling, "7a5");
	fClient->Key(XKB_KEY_Return);
	ExpectShows(dialog, filled, "page-setup-filled");

	Click(dialog, kOK);
	ASSERT_EQ(tool.Wait(), 0) << tool.Errors();
	EXPECT_EQ(tool.Output(), "page setup of Desk: 8.264 x 11.694 in, portrait, scaling 75%\n");
	BMessage settings;
	std::string error;
	ASSERT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
	EXPECT_EQ(settings.GetInt8("prevous_settings", -1), 2) << "A4's row of the paper table";
}

TEST_F(DialogOnScreen, PrintSetupTakesTypedCopiesAndTheBlackWhiteBox)
{
	Picture opened = Headless({"job-setup", "Desk", "--cancel"}, "job-setup.png");
	Picture filled = Headless({"job-setup", "Desk", "--copies", "3", "--black-white",
		"--cancel"}, "job-setup.png");

	Tool tool({"job-setup", "Desk"}, fServer.Name(), Folder("shown"));
	xcb_window_t dialog = Window("Print Setup");
	ASSERT_NE(dialog, static_cast<xcb_window_t>(XCB_NONE)) << tool.Errors();
	ExpectShows(dialog, opened, "job-setup-opened");

	TypeInto(dialog, kCopies, "x3-");
	fClient->Key(XKB_KEY_Return);
	Click(dialog, kBlackWhite);
	ExpectShows(dialog, filled, "job-setup-filled");

	Click(dialog, kOK);
	ASSERT_EQ(tool.Wait(), 0) << tool.Errors();
	EXPECT_EQ(tool.Output(), "job setup of Desk: 3 copies, all pages, 300 dpi, black and white\n");
}

TEST_F(DialogOnScreen, NoCopiesBringUpTheAlertAndCancelKeepsTheSettings)
{
	Picture alert = Headless({"job-setup", "Desk", "--copies", "0"}, "job-setup-alert.png", 2);
	std::string before = SettingsText();

	Tool tool({"job-setup", "Desk"}, fServer.Name(), Folder("shown"));
	xcb_window_t dialog = Window("Print Setup");
	ASSERT_NE(dialog, static_cast<xcb_window_t>(XCB_NONE)) << tool.Errors();
	// The window manager's close box does nothing to a dialog without one.
	fClient->RequestClose(dialog);
	TypeInto(dialog, kCopies, "0");
	Click(dialog, kOK);

	// The alert is a window of its own, and has the keyboard: Return presses its button.
	xcb_window_t shown = fClient->WaitForWindow("alert_window");
	ASSERT_NE(shown, static_cast<xcb_window_t>(XCB_NONE));
	ExpectShows(shown, alert, "job-setup-alert");
	EXPECT_EQ(fClient->Property(shown, "WM_TRANSIENT_FOR"), std::vector<uint32_t>{dialog});
	fClient->Key(XKB_KEY_Return);
	EXPECT_TRUE(fClient->WaitUntilGone(shown));

	Click(dialog, kCancel);
	ASSERT_EQ(tool.Wait(), 0) << tool.Errors();
	EXPECT_EQ(tool.Output(), "job setup of Desk cancelled; the settings are unchanged\n");
	EXPECT_EQ(SettingsText(), before);
}

// Every way out of a dialog ends in an answer: one whose screen goes away is cancelled, and
// the tool says why instead of waiting for ever.
TEST_F(DialogOnScreen, ADialogWhoseDisplayGoesAwayEndsCancelled)
{
	std::string before = SettingsText();
	Tool tool({"page-setup", "Desk"}, fServer.Name(), Folder("shown"));
	ASSERT_NE(Window("Page Setup"), static_cast<xcb_window_t>(XCB_NONE)) << tool.Errors();
	fClient.reset();
	fServer.Stop();
	EXPECT_EQ(tool.Wait(), 1);
	std::string errors = tool.Errors();
	EXPECT_EQ(errors.substr(0, errors.find('\n')), "tessary: the X display went away while the "
		"dialog was open; the settings are unchanged");
	EXPECT_EQ(SettingsText(), before);
}

// Where the dialog can and cannot be shown.
TEST(SetupToolDisplay, ShowsTheDialogOnlyWithoutValueOptionsAndOnlyWithADisplay)
{
	struct Case {
		std::vector<std::string> arguments;
		const char* display;
		int status;
		const char* says;  // in what it prints, on either stream
	};
	const Case cases[] = {
		{{"page-setup", "Desk"}, "", 2,
			"tessary: cannot show the page setup dialog: no X display is named"},
		{{"job-setup", "Desk"}, "", 2,
			"tessary: cannot show the job setup dialog: no X display is named"},
		{{"job-setup", "Desk"}, ":77777", 2,
			"tessary: cannot show the job setup dialog: cannot connect to the X display :77777"},
		// With options the dialog is worked headless, whatever DISPLAY names.
		{{"page-setup", "Desk", "--paper", "B5"}, ":77777", 0, "page setup of Desk: 7.167 x"},
		{{"job-setup", "Desk", "--cancel"}, ":77777", 0, "cancelled"},
	};
	TempRoot root;
	std::string error;
	ASSERT_TRUE(server::add_printer("Desk", "File", root.Sub("out.pcl"), &error)) << error;
	for (const Case& entry : cases) {
		Tool tool(entry.arguments, entry.display, root.Path());
		EXPECT_EQ(tool.Wait(), entry.status) << entry.arguments[0] << " " << entry.display;
		std::string said = tool.Output() + tool.Errors();
		EXPECT_NE(said.find(entry.says), std::string::npos) << said;
		if (entry.status == 2) {
			EXPECT_EQ(said.find("tessary:"), said.rfind("tessary:")) << "one line: " << said;
			EXPECT_EQ(said.find(entry.says), 0u) << said;
		}
	}
}

}  // namespace
