// The add-on's take_job and add_printer, called through the built add-on as the print server
// calls them, with test transports installed in a temporary root.

#include "JobOutcome.h"
#include "Spool.h"
#include "support/TempRoot.h"

#include <Directory.h>
#include <File.h>
#include <FindDirectory.h>
#include <Message.h>
#include <Node.h>
#include <Path.h>
#include <TypeConstants.h>
#include <fs_attr.h>
#include <image.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

typedef BMessage* (*take_job_hook)(BFile*, BNode*, BMessage*);
typedef char* (*add_printer_hook)(const char*);

std::vector<std::string> read_lines(const std::string& path)
{
	std::vector<std::string> lines;
	std::ifstream file(path);
	std::string line;
	while (std::getline(file, line))
		lines.push_back(line);
	return lines;
}

class Hooks : public ::testing::Test {
protected:
	void SetUp() override
	{
		fImage = load_add_on(TESSARY_STAGE_DIR "/boot/home/config/add-ons/Print/Tessary");
		ASSERT_GE(fImage, 0) << "the driver add-on was not built";
		void* symbol = nullptr;
		ASSERT_EQ(get_image_symbol(fImage, "take_job", B_SYMBOL_TYPE_TEXT, &symbol), B_OK);
		fTakeJob = reinterpret_cast<take_job_hook>(symbol);
		ASSERT_EQ(get_image_symbol(fImage, "add_printer", B_SYMBOL_TYPE_TEXT, &symbol), B_OK);
		fAddPrinter = reinterpret_cast<add_printer_hook>(symbol);

		BPath addons;
		ASSERT_EQ(find_directory(B_BEOS_ADDONS_DIRECTORY, &addons, true), B_OK);
		fTransportFolder = std::string(addons.Path()) + "/Print/transport";
		fs::create_directories(fTransportFolder);
		BPath settings;
		ASSERT_EQ(find_directory(B_COMMON_SETTINGS_DIRECTORY, &settings, true), B_OK);
		fPrintersFolder = std::string(settings.Path()) + "/printers";
		fs::create_directories(fPrintersFolder);

		fLog = fRoot.Sub("transport.log");
		fOutput = fRoot.Sub("transport.out");
		setenv("TESSARY_TEST_LOG", fLog.c_str(), 1);
		setenv("TESSARY_TEST_OUTPUT", fOutput.c_str(), 1);
	}

	void TearDown() override
	{
		unsetenv("TESSARY_TEST_LOG");
		unsetenv("TESSARY_TEST_OUTPUT");
		if (fImage >= 0)
			unload_add_on(fImage);
	}

	// Installs test transport variant under name.
	void InstallTransport(const char* variant, const std::string& name)
	{
		fs::copy_file(std::string(TEST_TRANSPORT_DIR) + "/" + variant,
			fTransportFolder + "/" + name, fs::copy_options::overwrite_existing);
	}

	std::string MakePrinter(const std::string& name, const char* transport, size_t size = 0)
	{
		std::string folder = fPrintersFolder + "/" + name;
		fs::create_directories(folder);
		if (transport != nullptr) {
			BNode node(folder.c_str());
			EXPECT_EQ(node.InitCheck(), B_OK);
			size_t length = size != 0 ? size : strlen(transport) + 1;
			EXPECT_EQ(node.WriteAttr("transport", B_STRING_TYPE, 0, transport, length),
				static_cast<ssize_t>(length));
		}
		return folder;
	}

	std::string MakeSpool(const BMessage& settings)
	{
		std::string path = fRoot.Sub("job.spool");
		frontend::SpoolWriter writer;
		std::string error;
		EXPECT_TRUE(writer.Open(path, settings, &error)) << error;
		EXPECT_TRUE(writer.Close(&error)) << error;
		return path;
	}

	static BMessage JobSettings()
	{
		BMessage settings('okok');
		settings.AddRect("paper_rect", BRect(0, 0, 637.5f, 825));
		settings.AddInt32("xres", 300);
		settings.AddInt16("copies", 1);
		settings.AddInt16("BWMode", 0);
		return settings;
	}

	// Runs take_job for the printer folder; token 0 means "no printer field".
	BMessage* RunJob(const std::string& folder, bool withPrinterField = true, int32 token = 0)
	{
		BMessage settings = JobSettings();
		std::string spoolPath = MakeSpool(settings);
		BNode printer(folder.c_str());
		int32 registered = register_node_token(&printer);
		if (withPrinterField)
			settings.AddInt32("printer", token != 0 ? token : registered);
		BFile spool(spoolPath.c_str(), B_READ_ONLY);
		BMessage* result = fTakeJob(&spool, &printer, &settings);
		unregister_node_token(registered);
		return result;
	}

	TempRoot fRoot;
	image_id fImage = -1;
	take_job_hook fTakeJob = nullptr;
	add_printer_hook fAddPrinter = nullptr;
	std::string fTransportFolder;
	std::string fPrintersFolder;
	std::string fLog;
	std::string fOutput;
};

TEST_F(Hooks, TakeJobOpensTheNamedTransportWithThePrinterFolderPath)
{
	InstallTransport("RECORDER", "Rec order");
	std::string folder = MakePrinter("My Printer", "Rec order");
	int32 loadedBefore = count_loaded_add_ons();

	BMessage* result = RunJob(folder);
	ASSERT_NE(result, nullptr);
	delete result;

	// A job of zero pages still opens the transport, makes the one final flush and closes it.
	std::vector<std::string> expected = {
		"init what=TRIN fields=1 printer_file=" + folder + " second=0", "write 0", "exit"};
	EXPECT_EQ(read_lines(fLog), expected);
	EXPECT_EQ(count_loaded_add_ons(), loadedBefore);
}

TEST_F(Hooks, TakeJobReturnsAnIndependentCopyOfTheSettings)
{
	InstallTransport("RECORDER", "R");
	std::string folder = MakePrinter("P", "R");
	BMessage settings = JobSettings();
	settings.AddString("extra", "kept");
	std::string spoolPath = MakeSpool(settings);
	BNode printer(folder.c_str());
	int32 token = register_node_token(&printer);
	settings.AddInt32("printer", token);
	BFile spool(spoolPath.c_str(), B_READ_ONLY);

	BMessage* result = fTakeJob(&spool, &printer, &settings);
	unregister_node_token(token);
	ASSERT_NE(result, nullptr);
	EXPECT_EQ(result->what, settings.what);
	EXPECT_EQ(result->CountNames(B_ANY_TYPE), settings.CountNames(B_ANY_TYPE));
	const char* extra = nullptr;
	EXPECT_EQ(result->FindString("extra", &extra), B_OK);
	EXPECT_STREQ(extra, "kept");
	result->ReplaceString("extra", "changed");
	EXPECT_EQ(settings.FindString("extra", &extra), B_OK);
	EXPECT_STREQ(extra, "kept");
	delete result;
}

TEST_F(Hooks, TakeJobAcceptsTheLongestTransportName)
{
	std::string name(127, 'n');
	InstallTransport("RECORDER", name);
	std::string folder = MakePrinter("P", name.c_str());
	delete RunJob(folder);
	std::vector<std::string> lines = read_lines(fLog);
	ASSERT_EQ(lines.size(), 3u);
	EXPECT_EQ(lines.back(), "exit");
}

// The printer folder's "compression" says how the rows go: packed (method 2) for "tiff"
// alone; whole (method 0) without it, or for anything else it holds.
TEST_F(Hooks, TakeJobPacksRowsOnlyForAPrinterWhoseCompressionIsTiff)
{
	const struct {
		const char* label;
		std::string value;  // the attribute's bytes; empty: none written
		type_code type;
		const char* method;  // the header's compression command
	} cases[] = {
		{"no attribute", "", B_STRING_TYPE, "\x1b*b0M"},
		{"none", std::string("none", 5), B_STRING_TYPE, "\x1b*b0M"},
		{"tiff", std::string("tiff", 5), B_STRING_TYPE, "\x1b*b2M"},
		{"tiff without its NUL", "tiff", B_STRING_TYPE, "\x1b*b2M"},
		{"the PPD's choice", std::string("TIFF", 5), B_STRING_TYPE, "\x1b*b0M"},
		{"another name", std::string("zlib", 5), B_STRING_TYPE, "\x1b*b0M"},
		{"tiff, but not a string", std::string("tiff", 5), B_RAW_TYPE, "\x1b*b0M"},
		{"a long value", std::string(64, 't'), B_STRING_TYPE, "\x1b*b0M"},
	};
	InstallTransport("RECORDER", "R");
	BMessage settings = JobSettings();
	std::string spoolPath = fRoot.Sub("page.spool");
	{
		frontend::SpoolWriter writer;
		std::string error;
		ASSERT_TRUE(writer.Open(spoolPath, settings, &error)) << error;
		ASSERT_TRUE(writer.BeginPage(&error) && writer.EndPage(&error)) << error;
		ASSERT_TRUE(writer.Close(&error)) << error;
	}
	for (const auto& c : cases) {
		SCOPED_TRACE(c.label);
		std::string folder = MakePrinter("P", "R");
		BNode printer(folder.c_str());
		printer.RemoveAttr("compression");
		if (!c.value.empty()) {
			ASSERT_EQ(printer.WriteAttr("compression", c.type, 0, c.value.data(),
				c.value.size()), static_cast<ssize_t>(c.value.size()));
		}
		fs::remove(fOutput);
		BMessage job = settings;
		int32 token = register_node_token(&printer);
		job.AddInt32("printer", token);
		BFile spool(spoolPath.c_str(), B_READ_ONLY);
		delete fTakeJob(&spool, &printer, &job);
		unregister_node_token(token);

		std::ifstream file(fOutput, std::ios::binary);
		std::string stream((std::istreambuf_iterator<char>(file)),
			std::istreambuf_iterator<char>());
		const std::string header = std::string("\x1b" "E" "\x1b*t300R" "\x1b&l0E") + c.method
			+ "\x1b*r-4U";
		EXPECT_EQ(stream.compare(0, header.size(), header), 0);
		// A blank Letter page: 3600 rows sent whole, or its first row and one Y offset.
		if (std::string(c.method) == "\x1b*b2M")
			EXPECT_LT(stream.size(), 200u);
		else
			EXPECT_EQ(stream.size(), 4708826u);
	}
}

struct Refusal {
	const char* label;
	const char* variant;        // test transport installed (nullptr: none)
	const char* installedAs;
	const char* attribute;      // the "transport" attribute (nullptr: none)
	size_t attributeSize;       // 0: strlen + 1
	bool withPrinterField;
	int32 token;                // 0: the printer's own token
	bool initCalled;
};

class TakeJobRefusals : public Hooks, public ::testing::WithParamInterface<Refusal> {};

TEST_P(TakeJobRefusals, SkipTheJobAndLeaveNoAddOnLoaded)
{
	const Refusal& refusal = GetParam();
	if (refusal.variant != nullptr)
		InstallTransport(refusal.variant, refusal.installedAs);
	// Something named like the escape targets exists, so only the name check can stop it.
	InstallTransport("RECORDER", "Good");
	fs::copy_file(std::string(TEST_TRANSPORT_DIR) + "/RECORDER", fRoot.Sub("Outside"));

	std::string folder = MakePrinter("P", refusal.attribute, refusal.attributeSize);
	// A record of an earlier, good job must not survive this one.
	BNode node(folder.c_str());
	JobOutcome earlier;
	earlier.pages_sent = earlier.pages_announced = 5;
	ASSERT_EQ(write_job_outcome(&node, earlier), B_OK);
	int32 loadedBefore = count_loaded_add_ons();
	BMessage* result = RunJob(folder, refusal.withPrinterField, refusal.token);
	ASSERT_NE(result, nullptr) << refusal.label;
	EXPECT_EQ(result->what, static_cast<uint32>('okok'));
	delete result;

	std::vector<std::string> lines = read_lines(fLog);
	if (refusal.initCalled) {
		ASSERT_EQ(lines.size(), 1u) << refusal.label;
		EXPECT_EQ(lines[0].rfind("init ", 0), 0u);
	} else {
		EXPECT_TRUE(lines.empty()) << refusal.label;
	}
	EXPECT_FALSE(fs::exists(fOutput)) << refusal.label;
	EXPECT_EQ(count_loaded_add_ons(), loadedBefore) << refusal.label;

	JobOutcome outcome;
	ASSERT_TRUE(read_job_outcome(&node, &outcome)) << refusal.label;
	EXPECT_EQ(outcome.stop, JobStop::no_transport) << refusal.label;
	EXPECT_EQ(outcome.pages_sent, 0) << refusal.label;
	EXPECT_FALSE(outcome.detail.empty()) << refusal.label;
}

// A name of 128 characters needs 129 bytes with its NUL: refused, even though it exists.
const std::string kLongName(128, 'n');

INSTANTIATE_TEST_SUITE_P(Hooks, TakeJobRefusals, ::testing::Values(
	Refusal{"no printer field", nullptr, nullptr, "Good", 0, false, 0, false},
	Refusal{"unknown printer token", nullptr, nullptr, "Good", 0, true, 999999, false},
	Refusal{"no transport attribute", nullptr, nullptr, nullptr, 0, true, 0, false},
	Refusal{"missing add-on", nullptr, nullptr, "Missing", 0, true, 0, false},
	Refusal{"empty name", nullptr, nullptr, "", 0, true, 0, false},
	Refusal{"dot", nullptr, nullptr, ".", 0, true, 0, false},
	Refusal{"dot dot", nullptr, nullptr, "..", 0, true, 0, false},
	Refusal{"slash", nullptr, nullptr, "../../../../../../Outside", 0, true, 0, false},
	Refusal{"128 bytes", "RECORDER", kLongName.c_str(), kLongName.c_str(), 0, true, 0, false},
	Refusal{"no NUL", "RECORDER", "Goo", "Good", 3, true, 0, false},
	Refusal{"missing exit_transport", "NO_EXIT", "NoExit", "NoExit", 0, true, 0, false},
	Refusal{"init_transport is data", "DATA_INIT", "DataInit", "DataInit", 0, true, 0, false},
	Refusal{"no stream", "NULL", "Null", "Null", 0, true, 0, true}));

// A spool file to change before the job: settings, then `pages` empty pages.
struct OutcomeCase {
	const char* label;
	void (*settings)(BMessage* settings);
	int32 pages;
	// Changes the spool file's bytes; `first_page` is the offset of the first page record.
	void (*damage)(std::string* bytes, size_t first_page);
	bool stopRequested;
	JobStop stop;
	int32 pagesSent;
	int32 pagesAnnounced;
	int32 stopPage;
	const char* field;
	const char* value;
	const char* words;  // describe_job_outcome, in part
};

void put_le(std::string* bytes, size_t at, uint64 value, int width)
{
	for (int i = 0; i < width; i++)
		(*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

class TakeJobOutcomes : public Hooks, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(TakeJobOutcomes, LeaveOneRecordThatSaysHowFarTheJobGot)
{
	const OutcomeCase& test = GetParam();
	InstallTransport("RECORDER", "R");
	std::string folder = MakePrinter("P", "R");

	// Small paper at 75 dpi keeps each page to a few bands.
	BMessage settings('okok');
	settings.AddRect("paper_rect", BRect(0, 0, 80, 100));
	settings.AddInt32("xres", 75);
	settings.AddInt16("copies", 1);
	settings.AddInt16("BWMode", 1);
	if (test.settings != nullptr)
		test.settings(&settings);
	std::string path = fRoot.Sub("job.spool");
	frontend::SpoolWriter writer;
	std::string error;
	ASSERT_TRUE(writer.Open(path, settings, &error)) << error;
	for (int32 page = 0; page < test.pages; page++)
		ASSERT_TRUE(writer.AddPage(frontend::SpooledPage(), &error)) << error;
	ASSERT_TRUE(writer.Close(&error)) << error;
	if (test.damage != nullptr) {
		std::ifstream in(path, std::ios::binary);
		std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		in.close();
		test.damage(&bytes, 28 + static_cast<size_t>(settings.FlattenedSize()));
		std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
	}

	BNode printer(folder.c_str());
	int32 token = register_node_token(&printer);
	settings.AddInt32("printer", token);
	BFile spool(path.c_str(), B_READ_ONLY);
	if (test.stopRequested)
		request_job_stop();
	delete fTakeJob(&spool, &printer, &settings);
	reset_job_stop();
	unregister_node_token(token);

	JobOutcome outcome;
	ASSERT_TRUE(read_job_outcome(&printer, &outcome)) << test.label;
	EXPECT_EQ(outcome.stop, test.stop) << test.label;
	EXPECT_EQ(outcome.pages_sent, test.pagesSent) << test.label;
	EXPECT_EQ(outcome.pages_announced, test.pagesAnnounced) << test.label;
	EXPECT_EQ(outcome.stop_page, test.stopPage) << test.label;
	EXPECT_EQ(outcome.field, test.field) << test.label;
	EXPECT_EQ(outcome.value, test.value) << test.label;
	std::string words = describe_job_outcome(outcome);
	EXPECT_NE(words.find(test.words), std::string::npos) << test.label << ": " << words;

	// The transport was opened and closed on every path that read the spool file; a job
	// refused for its settings or paper sent it nothing at all.
	std::vector<std::string> lines = read_lines(fLog);
	ASSERT_GE(lines.size(), 2u) << test.label;
	EXPECT_EQ(lines.back(), "exit") << test.label;
	if (test.stop == JobStop::settings_refused || test.stop == JobStop::geometry_refused) {
		EXPECT_EQ(lines.size(), 2u) << test.label;
	}
}

INSTANTIATE_TEST_SUITE_P(Hooks, TakeJobOutcomes, ::testing::Values(
	OutcomeCase{"two pages", nullptr, 2, nullptr, false, JobStop::completed, 2, 2, 0, "", "",
		"printed 2 pages"},
	OutcomeCase{"no xres", [](BMessage* s) { s->RemoveName("xres"); }, 1, nullptr, false,
		JobStop::settings_refused, 0, 1, 0, "xres", "",
		"not printed: the job's settings have no resolution (\"xres\")"},
	OutcomeCase{"xres 50", [](BMessage* s) { s->ReplaceInt32("xres", 50); }, 1, nullptr, false,
		JobStop::settings_refused, 0, 1, 0, "xres", "50", "resolution (\"xres\") 50 dpi"},
	OutcomeCase{"xres 300000", [](BMessage* s) { s->ReplaceInt32("xres", 300000); }, 1,
		nullptr, false, JobStop::settings_refused, 0, 1, 0, "xres", "300000", "300000"},
	OutcomeCase{"no copies", [](BMessage* s) { s->RemoveName("copies"); }, 1, nullptr, false,
		JobStop::settings_refused, 0, 1, 0, "copies", "", "(\"copies\")"},
	OutcomeCase{"settings do not unflatten", nullptr, 1,
		[](std::string* bytes, size_t) { (*bytes)[28] = 'X'; }, false,
		JobStop::settings_refused, 0, 1, 0, "", "", "settings cannot be read"},
	OutcomeCase{"page 1e7 units tall",
		[](BMessage* s) { s->ReplaceRect("paper_rect", BRect(0, 0, 80, 1e7f)); }, 1, nullptr,
		false, JobStop::geometry_refused, 0, 1, 0, "", "", "taller than the driver prints"},
	OutcomeCase{"cut inside page 3 of 3", nullptr, 3,
		[](std::string* bytes, size_t) { bytes->resize(bytes->size() - 20); }, false,
		JobStop::spool_cut, 2, 3, 3, "", "",
		"printed 2 of 3 pages: the spool file ends inside page 3"},
	OutcomeCase{"header cut", nullptr, 0, [](std::string* bytes, size_t) { bytes->resize(20); },
		false, JobStop::spool_cut, 0, 0, 0, "", "", "before its first page"},
	OutcomeCase{"page record that points back at itself", nullptr, 1,
		[](std::string* bytes, size_t first_page) {
			put_le(bytes, 4, 0x7FFFFFFF, 4);
			put_le(bytes, first_page + 4, first_page, 8);
		},
		false, JobStop::spool_cut, 1, 0x7FFFFFFF, 2, "", "", "ends inside page 2"},
	OutcomeCase{"stop requested", nullptr, 2, nullptr, true, JobStop::interrupted, 0, 2, 1, "",
		"", "interrupted after 0 of 2 pages"}));

TEST_F(Hooks, AddPrinterLabelsTheFolderAndReturnsTheSameName)
{
	std::string folder = MakePrinter("Office Jet", nullptr);
	const char* name = "Office Jet";
	for (int run = 0; run < 2; run++) {
		EXPECT_EQ(fAddPrinter(name), name);
		BNode node(folder.c_str());
		attr_info info;
		ASSERT_EQ(node.GetAttrInfo("Comments", &info), B_OK);
		EXPECT_EQ(info.type, static_cast<uint32>(B_STRING_TYPE));
		ASSERT_EQ(info.size, 16);
		char value[16];
		ASSERT_EQ(node.ReadAttr("Comments", B_STRING_TYPE, 0, value, sizeof(value)), 16);
		EXPECT_EQ(memcmp(value, "Tessary printer", 16), 0);
	}
}

TEST_F(Hooks, AddPrinterRefusesMissingFoldersAndNamesThatLeaveThePrintersFolder)
{
	EXPECT_EQ(fAddPrinter("Nobody"), nullptr);
	EXPECT_FALSE(fs::exists(fPrintersFolder + "/Nobody"));
	// Folders that exist, but not as a printer of their own.
	fs::create_directories(fPrintersFolder + "/a/b");
	for (const char* name : {"..", ".", "a/b", "../printers", ""})
		EXPECT_EQ(fAddPrinter(name), nullptr) << name;
	BNode parent(fPrintersFolder.c_str());
	attr_info info;
	EXPECT_NE(parent.GetAttrInfo("Comments", &info), B_OK);
}

}  // namespace
