// Printing end to end through the print tool's own code: printers with File and Socket
// transports in a temporary root, the built driver add-on, and the transports' outcomes.

#include "DeviceModel.h"
#include "DriverFolders.h"
#include "JobOutcome.h"
#include "PrintJob.h"
#include "PclPreview.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "Spool.h"
#include "SpoolPlan.h"
#include "support/LoopbackPort.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <jpeglib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
}

std::vector<preview::Page> decode_pages(const std::vector<uint8_t>& stream)
{
	std::vector<preview::Page> pages;
	preview::DecodeError error;
	bool ok = preview::decode_stream(stream.data(), stream.size(),
		[&](const preview::Page& page, std::string*) {
			pages.push_back(page);
			return true;
		},
		&error);
	EXPECT_TRUE(ok) << error.message << " at byte " << error.offset;
	return pages;
}

// A printer on 127.0.0.1: takes one connection and keeps what it receives, or hangs up after
// a few bytes. Every wait is bounded so a broken transport fails the test instead of hanging.
class Listener {
public:
	explicit Listener(size_t hangUpAfter = SIZE_MAX) : fHangUpAfter(hangUpAfter)
	{
		fSocket = socket(AF_INET, SOCK_STREAM, 0);
		fPort = bind_loopback(fSocket);
		listen(fSocket, 1);
		fThread = std::thread([this] { _Serve(); });
	}

	~Listener()
	{
		fThread.join();
		close(fSocket);
	}

	int Port() const { return fPort; }
	std::vector<uint8_t> Received()
	{
		fThread.join();
		fThread = std::thread([] {});
		return fReceived;
	}

private:
	void _Serve()
	{
		pollfd poller = {fSocket, POLLIN, 0};
		if (poll(&poller, 1, 60000) <= 0)
			return;
		int connection = accept(fSocket, nullptr, nullptr);
		if (connection < 0)
			return;
		char buffer[65536];
		while (fReceived.size() < fHangUpAfter) {
			pollfd reader = {connection, POLLIN, 0};
			if (poll(&reader, 1, 60000) <= 0)
				break;
			size_t want = std::min(sizeof(buffer), fHangUpAfter - fReceived.size());
			ssize_t got = recv(connection, buffer, want, 0);
			if (got <= 0)
				break;
			fReceived.insert(fReceived.end(), buffer, buffer + got);
		}
		close(connection);
	}

	int fSocket;
	int fPort = 0;
	size_t fHangUpAfter;
	std::vector<uint8_t> fReceived;
	std::thread fThread;
};

class PrintTool : public ::testing::Test {
protected:
	bool Print(const std::string& printer, std::vector<std::string> documents = {},
		std::string* error = nullptr, bool keepSpool = false)
	{
		server::PrintRequest request;
		request.printer = printer;
		request.documents = std::move(documents);
		request.keepSpool = keepSpool;
		std::string ignored;
		fOutcome = server::PrintOutcome();
		return server::print_job(request, &fOutcome, error != nullptr ? error : &ignored);
	}

	// Runs the built tessary command; returns its exit status and what it wrote to stderr
	// (and to stdout, when asked).
	// `shell` runs first in the same shell (limits, signal dispositions).
	int RunTool(const std::string& arguments, std::string* errors, std::string* output = nullptr,
		const std::string& shell = "")
	{
		std::string errorsPath = fRoot.Sub("stderr.txt");
		std::string outputPath = fRoot.Sub("stdout.txt");
		std::string command = shell + std::string(TESSARY_BUILD_DIR) + "/server/tessary "
			+ arguments
			+ " >" + outputPath + " 2>" + errorsPath;
		int status = system(command.c_str());
		std::ifstream file(errorsPath);
		errors->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
		if (output != nullptr) {
			std::ifstream out(outputPath);
			output->assign(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
		}
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	// A spool file of `document` (the test page when empty) with settings `change` made to
	// the defaults on small paper at 75 dpi, and `damage` done to its bytes after.
	std::string MakeSpool(const std::string& name, const std::string& document,
		void (*change)(BMessage*), void (*damage)(std::string*, size_t))
	{
		BMessage settings;
		device::default_settings(&settings);
		settings.ReplaceRect("paper_rect", BRect(0, 0, 160, 200));
		settings.ReplaceInt32("xres", 75);
		if (change != nullptr)
			change(&settings);
		std::string path = fRoot.Sub(name);
		int32 pages = 0;
		std::string error;
		std::vector<std::string> documents;
		if (!document.empty())
			documents.push_back(document);
		frontend::DocumentError documentError;
		EXPECT_TRUE(frontend::write_spool(path, documents, settings, "", &pages, &documentError))
			<< documentError.InWords();
		if (damage != nullptr) {
			std::vector<uint8_t> data = read_file(path);
			std::string bytes(data.begin(), data.end());
			damage(&bytes, 28 + static_cast<size_t>(settings.FlattenedSize()));
			std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
		}
		return path;
	}

	// Names in `folder` other than `keep`: what a job left beside its target.
	static std::vector<std::string> OthersIn(const std::string& folder, const std::string& keep)
	{
		std::vector<std::string> others;
		for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
			if (entry.path().filename() != keep)
				others.push_back(entry.path().filename().string());
		}
		return others;
	}

	TempRoot fRoot;
	server::PrintOutcome fOutcome;
};

TEST_F(PrintTool, FileAndSocketDeliverTheSameBytes)
{
	std::string error;
	std::string file = fRoot.Sub("out.pcl");
	ASSERT_TRUE(server::add_printer("Desk", "File", file, &error)) << error;
	ASSERT_TRUE(Print("Desk", {}, &error)) << error;
	std::vector<uint8_t> fromFile = read_file(file);
	ASSERT_FALSE(fromFile.empty());
	EXPECT_EQ(fOutcome.bytes, static_cast<int64>(fromFile.size()));

	Listener listener;
	ASSERT_TRUE(server::add_printer("Net", "Socket",
		"127.0.0.1:" + std::to_string(listener.Port()), &error)) << error;
	ASSERT_TRUE(Print("Net", {}, &error)) << error;
	std::vector<uint8_t> fromSocket = listener.Received();

	// The test page carries the time in its caption, which can change between the two
	// jobs; the streams must agree in length and in their page structure.
	ASSERT_EQ(fromSocket.size(), fromFile.size());
	std::vector<preview::Page> filePages = decode_pages(fromFile);
	std::vector<preview::Page> socketPages = decode_pages(fromSocket);
	ASSERT_EQ(filePages.size(), 1u);
	ASSERT_EQ(socketPages.size(), 1u);
	EXPECT_EQ(filePages[0].rows, 3600);
	EXPECT_EQ(filePages[0].width, 2560);
	EXPECT_EQ(filePages[0].planes, 4);
	EXPECT_EQ(filePages[0].resolution, 300);
}

TEST_F(PrintTool, TextDocumentSocketAndFileBytesAreIdentical)
{
	std::string text = fRoot.Sub("letter.txt");
	std::ofstream(text) << "Dear printer,\n\tplease print this.\fSecond page\fThird page\n";
	std::string error;
	std::string file = fRoot.Sub("text.pcl");
	ASSERT_TRUE(server::add_printer("Desk", "File", file, &error)) << error;
	ASSERT_TRUE(Print("Desk", {text}, &error)) << error;
	EXPECT_EQ(fOutcome.pages, 3);

	Listener listener;
	ASSERT_TRUE(server::add_printer("Net", "Socket",
		"127.0.0.1:" + std::to_string(listener.Port()), &error)) << error;
	ASSERT_TRUE(Print("Net", {text}, &error)) << error;
	std::vector<uint8_t> fromFile = read_file(file);
	EXPECT_TRUE(fromFile == listener.Received());
	EXPECT_EQ(decode_pages(fromFile).size(), 3u);
}

TEST_F(PrintTool, EachCopyIsASheetOfItsOwnInThePreview)
{
	std::string text = fRoot.Sub("two.txt");
	std::ofstream(text) << "First page\fSecond page\n";
	std::string error;
	std::string file = fRoot.Sub("copies.pcl");
	ASSERT_TRUE(server::add_printer("Desk", "File", file, &error)) << error;
	std::string errors;
	ASSERT_EQ(RunTool("job-setup Desk --copies 2 --resolution 75 --black-white", &errors), 0)
		<< errors;
	ASSERT_EQ(RunTool("print Desk " + text, &errors), 0) << errors;

	std::string shown = fRoot.Sub("shown");
	std::string summary;
	ASSERT_EQ(RunTool("preview " + file + " -o " + shown, &errors, &summary), 0) << errors;
	std::string expected;
	for (int page = 1; page <= 4; page++) {
		char line[160];
		snprintf(line, sizeof(line),
			"page %d: 75 dpi, 1 plane, 900 rows of 640 dots, on US Letter (638 x 825 dots) "
			"-> %s/page-%03d.png\n", page, shown.c_str(), page);
		expected += line;
	}
	EXPECT_EQ(summary, expected);
	auto png = [&](int page) {
		char name[32];
		snprintf(name, sizeof(name), "/page-%03d.png", page);
		return read_file(shown + name);
	};
	EXPECT_TRUE(png(1) == png(2));
	EXPECT_TRUE(png(3) == png(4));
	EXPECT_FALSE(png(1) == png(3));
}

TEST_F(PrintTool, RefusedConnectionIsAFailureWithANonZeroStatus)
{
	std::string error;
	ASSERT_TRUE(server::add_printer("Net", "Socket",
		"127.0.0.1:" + std::to_string(free_loopback_port()), &error)) << error;
	EXPECT_FALSE(Print("Net", {}, &error));
	EXPECT_NE(error.find("refused"), std::string::npos) << error;

	std::string errors;
	EXPECT_EQ(RunTool("print Net", &errors), 1);
	// The error comes first, on one line; notes (where the spool file was kept) may follow.
	std::string firstLine = errors.substr(0, errors.find('\n'));
	EXPECT_EQ(firstLine.rfind("tessary: ", 0), 0u) << errors;
	EXPECT_NE(firstLine.find("refused"), std::string::npos) << errors;
}

TEST_F(PrintTool, PrinterThatHangsUpEarlyIsAFailure)
{
	Listener listener(4096);
	std::string error;
	ASSERT_TRUE(server::add_printer("Net", "Socket",
		"127.0.0.1:" + std::to_string(listener.Port()), &error)) << error;
	EXPECT_FALSE(Print("Net", {}, &error));
	EXPECT_FALSE(error.empty());
	EXPECT_LT(fOutcome.bytes, 5'000'000);
}

TEST_F(PrintTool, ToolReportsAHangUpWithANonZeroStatus)
{
	Listener listener(100);
	std::string error;
	ASSERT_TRUE(server::add_printer("Net", "Socket",
		"127.0.0.1:" + std::to_string(listener.Port()), &error)) << error;
	std::string errors;
	EXPECT_EQ(RunTool("print Net", &errors), 1);
	EXPECT_NE(errors.find("failed"), std::string::npos) << errors;
}

TEST_F(PrintTool, FileTransportWithoutAddressMakesANewFileEachJob)
{
	std::string error;
	ASSERT_TRUE(server::add_printer("Desk", "File", "", &error)) << error;
	ASSERT_TRUE(Print("Desk", {}, &error)) << error;
	std::string first = fOutcome.destination;
	ASSERT_TRUE(Print("Desk", {}, &error)) << error;
	EXPECT_NE(fOutcome.destination, first);
	EXPECT_TRUE(fs::exists(first));
	EXPECT_TRUE(fs::exists(fOutcome.destination));
	EXPECT_EQ(fs::path(first).parent_path(), fs::path(fOutcome.destination).parent_path());
}

TEST_F(PrintTool, FailedFileJobLeavesThePreviousFileInPlace)
{
	std::string error;
	std::string target = fRoot.Sub("missing-folder/out.pcl");
	ASSERT_TRUE(server::add_printer("Desk", "File", target, &error)) << error;
	EXPECT_FALSE(Print("Desk", {}, &error));
	EXPECT_NE(error.find("cannot"), std::string::npos) << error;
	EXPECT_FALSE(fs::exists(target));
}

TEST_F(PrintTool, SpoolFileOfTheTestPageIsReadBackWithAllItsPages)
{
	std::string text = fRoot.Sub("three.txt");
	std::ofstream(text) << "one\ftwo\fthree";
	frontend::SpoolSummary summary;
	BMessage settings;
	device::default_settings(&settings);
	std::string spool = fRoot.Sub("job.spool");
	int32 pages = 0;
	std::string error;
	frontend::DocumentError documentError;
	ASSERT_TRUE(frontend::write_spool(spool, {"", text}, settings, "caption", &pages,
		&documentError) == false);  // an empty file name is an error, and no spool file is left
	EXPECT_FALSE(fs::exists(spool));

	ASSERT_TRUE(frontend::write_spool(spool, {text}, settings, "caption", &pages,
		&documentError)) << documentError.InWords();
	EXPECT_EQ(pages, 3);
	ASSERT_TRUE(frontend::read_spool_summary(spool, &summary, &error)) << error;
	EXPECT_EQ(summary.pageCount, 3);
	EXPECT_EQ(summary.pictures, (std::vector<int32>{1, 1, 1}));

	// And the driver prints all of them.
	std::string file = fRoot.Sub("out.pcl");
	ASSERT_TRUE(server::add_printer("Desk", "File", file, &error)) << error;
	server::PrintRequest request;
	request.printer = "Desk";
	request.existingSpool = spool;
	server::PrintOutcome outcome;
	ASSERT_TRUE(server::print_job(request, &outcome, &error)) << error;
	EXPECT_EQ(decode_pages(read_file(file)).size(), 3u);
	EXPECT_TRUE(fs::exists(spool));  // a spool file given by the user is never removed
}

void put_le(std::string* bytes, size_t at, uint64 value, int width)
{
	for (int i = 0; i < width; i++)
		(*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

struct BrokenJob {
	const char* label;
	void (*change)(BMessage*);
	void (*damage)(std::string* bytes, size_t firstPage);
	const char* line;  // the one line the tool gives, in part
};

const BrokenJob kBrokenJobs[] = {
	{"no xres", [](BMessage* s) { s->RemoveName("xres"); }, nullptr,
		"not printed: the job's settings have no resolution (\"xres\")"},
	{"xres 50", [](BMessage* s) { s->ReplaceInt32("xres", 50); }, nullptr,
		"not printed: the job's resolution (\"xres\") 50 dpi cannot be printed"},
	{"xres 300000 without paper",
		[](BMessage* s) {
			s->ReplaceInt32("xres", 300000);
			s->RemoveName("paper_rect");
		},
		nullptr, "not printed: the job's resolution (\"xres\") 300000 dpi cannot be printed"},
	{"settings that do not unflatten", nullptr,
		[](std::string* bytes, size_t) { (*bytes)[28] ^= 0x55; },
		"not printed: the job's settings cannot be read"},
	{"page 1e7 units tall",
		[](BMessage* s) { s->ReplaceRect("paper_rect", BRect(0, 0, 160, 1e7f)); }, nullptr,
		"not printed: the paper is taller than the driver prints"},
	// The pages before the cut are not printed either: the File printer's target is
	// replaced by a whole job alone.
	{"cut inside page 3 of 3", nullptr,
		[](std::string* bytes, size_t) { bytes->resize(bytes->size() - 30); },
		"not printed: the spool file ends inside page 3 (2 whole pages were not written to "},
	{"2^31 - 1 pages and a record that points at itself", nullptr,
		[](std::string* bytes, size_t firstPage) {
			put_le(bytes, 4, 0x7FFFFFFF, 4);
			put_le(bytes, firstPage + 4, firstPage, 8);
		},
		"not printed: the spool file ends inside page 2 (1 whole page was not written to "},
};

TEST_F(PrintTool, BrokenJobsFailInOneLineAndLeaveTheLastGoodFileAsItWas)
{
	std::string error;
	std::string folder = fRoot.Sub("out");
	fs::create_directories(folder);
	std::string target = folder + "/out.pcl";
	ASSERT_TRUE(server::add_printer("Desk", "File", target, &error)) << error;
	const std::string lastGood = "the last good job\n";
	std::ofstream(target, std::ios::binary) << lastGood;
	std::string text = fRoot.Sub("three.txt");
	std::ofstream(text) << "one\ftwo\fthree";

	for (const BrokenJob& job : kBrokenJobs) {
		std::string spool = MakeSpool("broken.spool", text, job.change, job.damage);
		std::string errors;
		EXPECT_EQ(RunTool("print Desk --spool " + spool, &errors), 1) << job.label;
		std::string firstLine = errors.substr(0, errors.find('\n'));
		EXPECT_EQ(firstLine.rfind("tessary: ", 0), 0u) << job.label << ": " << errors;
		EXPECT_NE(firstLine.find(job.line), std::string::npos) << job.label << ": " << errors;
		EXPECT_TRUE(firstLine.ends_with(target + " is as it was)")
			|| firstLine.ends_with(target + ", which is as it was)")) << job.label << ": "
			<< errors;
		EXPECT_NE(errors.find("the spool file is kept: " + spool), std::string::npos)
			<< job.label;
		std::vector<uint8_t> kept = read_file(target);
		EXPECT_EQ(std::string(kept.begin(), kept.end()), lastGood) << job.label;
		EXPECT_TRUE(OthersIn(folder, "out.pcl").empty()) << job.label;
		EXPECT_TRUE(fs::exists(spool)) << job.label;
	}

	// A hidden file of a job whose process died goes with the next job to the same target;
	// one of a live process is that process's job and stays.
	pid_t dead = fork();
	if (dead == 0)
		_exit(0);
	ASSERT_GT(dead, 0);
	waitpid(dead, nullptr, 0);
	std::string leftover = folder + "/.out.pcl.part-" + std::to_string(dead);
	std::string live = folder + "/.out.pcl.part-" + std::to_string(getpid());
	std::ofstream(leftover) << "partial";
	std::ofstream(live) << "partial";

	// The same document whole prints, and replaces the file.
	std::string good = MakeSpool("good.spool", text, nullptr, nullptr);
	std::string errors;
	std::string output;
	EXPECT_EQ(RunTool("print Desk --spool " + good, &errors, &output), 0) << errors;
	EXPECT_EQ(output.rfind("printed 3 pages on Desk: ", 0), 0u) << output;
	EXPECT_EQ(decode_pages(read_file(target)).size(), 3u);
	EXPECT_EQ(OthersIn(folder, "out.pcl"), std::vector<std::string>{fs::path(live).filename()});
}

// The File transport hands the disk large chunks and the rest when the job ends: a disk that
// takes no more (here a file size limit) fails the job whether it stops a chunk in the middle
// of the job or the last bytes, and the old file stays.
TEST_F(PrintTool, FileThatCannotTakeTheWholeJobFailsItWhereverTheWriteStops)
{
	std::string error;
	std::string folder = fRoot.Sub("out");
	fs::create_directories(folder);
	std::string target = folder + "/out.pcl";
	ASSERT_TRUE(server::add_printer("Desk", "File", target, &error)) << error;
	std::string text = fRoot.Sub("note.txt");
	std::ofstream(text) << "a page of text";
	std::string spool = MakeSpool("letter.spool", text, [](BMessage* settings) {
		settings->ReplaceRect("paper_rect", BRect(0, 0, 637.5, 825));
	}, nullptr);
	std::string errors;
	ASSERT_EQ(RunTool("print Desk --spool " + spool + " --keep-spool", &errors), 0) << errors;
	const std::vector<uint8_t> whole = read_file(target);
	const size_t chunk = 64 * 1024;
	// The limit (in the shell's 512-byte blocks) must fall inside the job's last chunk.
	const size_t lastBlock = (whole.size() - 1) / 512 * 512;
	ASSERT_GT(whole.size(), 2 * chunk);
	ASSERT_GT(lastBlock % chunk, 0u);

	for (size_t limit : {chunk, lastBlock}) {
		std::string shell = "trap '' XFSZ; ulimit -f " + std::to_string(limit / 512) + "; ";
		EXPECT_EQ(RunTool("print Desk --spool " + spool + " --keep-spool", &errors, nullptr,
			shell), 1) << limit;
		// Nothing of the job reached the target: the line says so, whatever was written
		// to the hidden file beside it.
		std::string expected = "tessary: not printed: cannot write the file: ";
		EXPECT_EQ(errors.rfind(expected, 0), 0u) << limit << ": " << errors;
		std::string line = errors.substr(0, errors.find('\n'));
		EXPECT_TRUE(line.ends_with(target + " is as it was)")
			|| line.ends_with(target + ", which is as it was)")) << limit << ": " << errors;
		EXPECT_EQ(read_file(target), whole) << limit;
		EXPECT_TRUE(OthersIn(folder, "out.pcl").empty()) << limit;
	}
}

TEST_F(PrintTool, InterruptStopsAManyCopyJobAtABandAndLeavesTheTarget)
{
	std::string error;
	std::string folder = fRoot.Sub("out");
	fs::create_directories(folder);
	std::string target = folder + "/out.pcl";
	ASSERT_TRUE(server::add_printer("Desk", "File", target, &error)) << error;
	// 500 copies of a Letter page at 300 dpi: minutes of work if nothing stops it.
	std::string spool = MakeSpool("copies.spool", "",
		[](BMessage* s) {
			s->ReplaceRect("paper_rect", BRect(0, 0, 637.5f, 825));
			s->ReplaceInt32("xres", 300);
			s->ReplaceInt16("copies", 500);
		},
		nullptr);
	// 300 pages of text that the tool spools while the driver prints them.
	std::string text = fRoot.Sub("long.txt");
	{
		std::ofstream long_text(text);
		for (int page = 0; page < 300; page++)
			long_text << "page " << page + 1 << "\f";
	}
	struct Job {
		std::vector<std::string> arguments;
		const char* kept;      // the note on the spool file; nullptr: it is not kept
	};
	// The File printer's target is replaced by a whole job alone: an interrupted one left it
	// as it was. The spool file given is the user's; the documents' pages were spooled in
	// memory, and nothing is left of them.
	std::string keptNote = "tessary: the spool file is kept: " + spool + "\n";
	for (const Job& job : {Job{{"--spool", spool}, keptNote.c_str()}, Job{{text}, nullptr}}) {
		SCOPED_TRACE(job.arguments[0]);
		std::ofstream(target, std::ios::binary) << "the last good job";
		std::string errorsPath = fRoot.Sub("stderr.txt");
		posix_spawn_file_actions_t actions;
		posix_spawn_file_actions_init(&actions);
		posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
		posix_spawn_file_actions_addopen(&actions, 2, errorsPath.c_str(),
			O_WRONLY | O_CREAT | O_TRUNC, 0644);
		std::string tool = std::string(TESSARY_BUILD_DIR) + "/server/tessary";
		std::vector<const char*> argv = {tool.c_str(), "print", "Desk"};
		for (const std::string& argument : job.arguments)
			argv.push_back(argument.c_str());
		argv.push_back(nullptr);
		pid_t child;
		ASSERT_EQ(posix_spawn(&child, tool.c_str(), &actions, nullptr,
			const_cast<char* const*>(argv.data()), environ), 0);
		posix_spawn_file_actions_destroy(&actions);

		// Wait (bounded) until bytes reach the hidden file: the job is under way.
		std::string partial = folder + "/.out.pcl.part-" + std::to_string(child);
		auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
		std::error_code code;
		while (fs::file_size(partial, code) == 0 || code) {
			ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the job never began";
			usleep(20000);
		}
		ASSERT_EQ(kill(child, SIGINT), 0);
		auto interrupted = std::chrono::steady_clock::now();
		int status = 0;
		while (waitpid(child, &status, WNOHANG) == 0) {
			if (std::chrono::steady_clock::now() > interrupted + std::chrono::seconds(60)) {
				kill(child, SIGKILL);
				waitpid(child, &status, 0);
				FAIL() << "the job went on after SIGINT";
			}
			usleep(10000);
		}
		double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now()
			- interrupted).count();
		RecordProperty("seconds_to_stop", std::to_string(seconds));
		ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
		EXPECT_EQ(WEXITSTATUS(status), 130);
		std::vector<uint8_t> errors = read_file(errorsPath);
		std::string said(errors.begin(), errors.end());
		said = said.substr(0, said.find("-----"));
		std::string line = "tessary: interrupted: not printed (" + target + " is as it was)\n";
		EXPECT_EQ(said, line + (job.kept != nullptr ? job.kept : ""));
		for (const auto& entry : fs::directory_iterator(frontend::printer_folder("Desk")))
			EXPECT_NE(entry.path().extension(), ".spool") << entry.path();
		std::vector<uint8_t> kept = read_file(target);
		EXPECT_EQ(std::string(kept.begin(), kept.end()), "the last good job");
		EXPECT_TRUE(OthersIn(folder, "out.pcl").empty());
	}
}

TEST_F(PrintTool, SpoolSummaryStopsAtARecordThatDoesNotMoveForward)
{
	std::string spool = MakeSpool("loop.spool", "", nullptr,
		[](std::string* bytes, size_t firstPage) {
			put_le(bytes, 4, 0x7FFFFFFF, 4);
			put_le(bytes, firstPage + 4, firstPage, 8);
		});
	frontend::SpoolSummary summary;
	std::string error;
	ASSERT_TRUE(frontend::read_spool_summary(spool, &summary, &error)) << error;
	EXPECT_EQ(summary.pageCount, 0x7FFFFFFF);
	EXPECT_EQ(summary.pictures.size(), 1u);
}

TEST_F(PrintTool, PageRangeOfTheSettingsSelectsPagesOfEachDocument)
{
	std::string text = fRoot.Sub("five.txt");
	std::ofstream(text) << "1\f2\f3\f4\f5";
	BMessage settings;
	device::default_settings(&settings);
	settings.ReplaceInt32("first_page", 2);
	settings.ReplaceInt32("last_page", 3);
	int32 pages = 0;
	frontend::DocumentError error;
	ASSERT_TRUE(frontend::write_spool(fRoot.Sub("a.spool"), {text, text}, settings, "", &pages,
		&error)) << error.InWords();
	EXPECT_EQ(pages, 4);
}

TEST_F(PrintTool, PrinterNamesThatLeaveThePrintersFolderOrBreakTheListAreRefused)
{
	std::string error;
	for (const char* name : {"", ".", "..", "a/b", "../x", "Desk\nOffice", "Desk\tFile",
			 "Desk\r", "\x1b[2J"}) {
		EXPECT_FALSE(server::add_printer(name, "File", "", &error)) << name;
	}
	EXPECT_FALSE(server::add_printer("P", "Carrier pigeon", "", &error));
	std::vector<server::PrinterInfo> printers;
	ASSERT_TRUE(server::list_printers(&printers, &error));
	EXPECT_TRUE(printers.empty());
}

TEST_F(PrintTool, PrinterListGivesEachPrinterOnALineAndNamesAloneWhenAsked)
{
	std::string errors;
	std::string output;
	ASSERT_EQ(RunTool("printer list --names", &errors, &output), 0) << errors;
	EXPECT_EQ(output, "");  // a fresh root has no printers, and says nothing
	ASSERT_EQ(RunTool("printer add 'Test Printer' --transport File --address "
		+ fRoot.Sub("test.pcl"), &errors), 0) << errors;
	ASSERT_EQ(RunTool("printer add Desk --transport Socket --address printer.local:9100",
		&errors), 0) << errors;

	ASSERT_EQ(RunTool("printer list --names", &errors, &output), 0) << errors;
	EXPECT_EQ(output, "Desk\nTest Printer\n");
	ASSERT_EQ(RunTool("printer list", &errors, &output), 0) << errors;
	EXPECT_EQ(output, "Desk\tSocket\tprinter.local:9100\tnone\nTest Printer\tFile\t"
		+ fRoot.Sub("test.pcl") + "\tnone\n");
}

TEST_F(PrintTool, AddedPrinterIsListedLabelledAndRemoved)
{
	std::string error;
	ASSERT_TRUE(server::add_printer("Desk", "Socket", "printer.local", &error)) << error;
	server::PrinterInfo info;
	ASSERT_TRUE(server::find_printer("Desk", &info, &error)) << error;
	EXPECT_EQ(info.transport, "Socket");
	EXPECT_EQ(info.address, "printer.local");
	EXPECT_EQ(info.comments, "Tessary printer");
	EXPECT_FALSE(server::add_printer("Desk", "File", "", &error));
	ASSERT_TRUE(server::remove_printer("Desk", &error)) << error;
	EXPECT_FALSE(server::find_printer("Desk", &info, &error));
}

// A printer's compression, chosen when it is added and changed after, is what its next job
// is sent with; the sheets are the same either way. Values the tool does not know are
// refused in one line.
TEST_F(PrintTool, CompressionIsChosenWhenAPrinterIsAddedAndChangedAfter)
{
	std::string target = fRoot.Sub("desk.pcl");
	std::string text = fRoot.Sub("letter.txt");
	std::ofstream(text) << "Dear printer,\n\tplease print this.\n";
	std::string errors;
	std::string output;
	ASSERT_EQ(RunTool("printer add Desk --transport File --address " + target
		+ " --compression tiff", &errors), 0) << errors;
	std::string error;
	BMessage settings;
	device::default_settings(&settings);
	settings.ReplaceInt32("xres", 75);
	ASSERT_TRUE(server::save_settings("Desk", settings, &error)) << error;

	const std::string packedHeader = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b2M";
	const std::string wholeHeader = "\x1b" "E" "\x1b*t75R" "\x1b&l0E" "\x1b*b0M";
	ASSERT_EQ(RunTool("print Desk " + text, &errors), 0) << errors;
	std::vector<uint8_t> packed = read_file(target);
	EXPECT_EQ(std::string(packed.begin(), packed.end()).rfind(packedHeader, 0), 0u);
	EXPECT_EQ(RunTool("printer list", &errors, &output), 0) << errors;
	EXPECT_EQ(output, "Desk\tFile\t" + target + "\ttiff\n");

	EXPECT_EQ(RunTool("printer set Desk --compression none", &errors, &output), 0) << errors;
	EXPECT_EQ(output, "printer Desk: compression none\n");
	ASSERT_EQ(RunTool("print Desk " + text, &errors), 0) << errors;
	std::vector<uint8_t> whole = read_file(target);
	EXPECT_EQ(std::string(whole.begin(), whole.end()).rfind(wholeHeader, 0), 0u);
	EXPECT_LT(packed.size() * 10, whole.size());

	std::vector<preview::Page> packedSheets = decode_pages(packed);
	std::vector<preview::Page> wholeSheets = decode_pages(whole);
	ASSERT_EQ(packedSheets.size(), 1u);
	ASSERT_EQ(wholeSheets.size(), 1u);
	EXPECT_EQ(packedSheets[0].rows, wholeSheets[0].rows);
	EXPECT_TRUE(packedSheets[0].inks == wholeSheets[0].inks);

	const struct {
		const char* arguments;
		int status;
		const char* words;  // in the one line on standard error
	} refused[] = {
		{"printer set Desk --compression zlib", 2, "zlib"},
		{"printer set Desk --compression TIFF", 2, "TIFF"},
		{"printer set Desk", 2, "--compression"},
		{"printer set Nobody --compression tiff", 1, "no printer named \"Nobody\""},
		{"printer add Office --transport File --compression lzw", 2, "lzw"},
	};
	for (const auto& c : refused) {
		SCOPED_TRACE(c.arguments);
		EXPECT_EQ(RunTool(c.arguments, &errors), c.status);
		EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
		EXPECT_NE(errors.find(c.words), std::string::npos) << errors;
	}
	server::PrinterInfo info;
	EXPECT_FALSE(server::find_printer("Office", &info, &error));
	ASSERT_TRUE(server::find_printer("Desk", &info, &error)) << error;
	EXPECT_EQ(info.compression, "none");
}

}  // namespace

namespace {

// A small JPEG of a grey ramp, made with libjpeg.
std::string make_jpeg(int width, int height)
{
	jpeg_compress_struct info;
	jpeg_error_mgr errors;
	info.err = jpeg_std_error(&errors);
	jpeg_create_compress(&info);
	unsigned char* buffer = nullptr;
	unsigned long size = 0;
	jpeg_mem_dest(&info, &buffer, &size);
	info.image_width = width;
	info.image_height = height;
	info.input_components = 1;
	info.in_color_space = JCS_GRAYSCALE;
	jpeg_set_defaults(&info);
	jpeg_start_compress(&info, TRUE);
	std::vector<unsigned char> row(width);
	for (int y = 0; y < height; y++) {
		for (int x = 0; x < width; x++)
			row[x] = static_cast<unsigned char>((x * 7 + y * 3) & 0xff);
		JSAMPROW rows[1] = {row.data()};
		jpeg_write_scanlines(&info, rows, 1);
	}
	jpeg_finish_compress(&info);
	jpeg_destroy_compress(&info);
	std::string bytes(reinterpret_cast<char*>(buffer), size);
	free(buffer);
	return bytes;
}

}  // namespace

TEST_F(PrintTool, JpegTroubleIsOneLineAndTheLibrarysWarningsStayQuiet)
{
	std::string error;
	ASSERT_TRUE(server::add_printer("Desk", "File", fRoot.Sub("out.pcl"), &error)) << error;
	BMessage settings;
	device::default_settings(&settings);
	settings.ReplaceRect("paper_rect", BRect(0, 0, 160, 200));
	settings.ReplaceInt32("xres", 75);
	ASSERT_TRUE(server::save_settings("Desk", settings, &error)) << error;

	// Junk bytes between two segments, as some cameras leave: libjpeg warns and the image is
	// whole, so the job prints and says nothing on standard error.
	std::string jpeg = make_jpeg(96, 64);
	std::string junk = fRoot.Sub("junk.jpg");
	size_t afterApp0 = 4 + (static_cast<uint8_t>(jpeg[4]) << 8 | static_cast<uint8_t>(jpeg[5]));
	std::ofstream(junk, std::ios::binary) << std::string(jpeg).insert(afterApp0, 3, '\0');
	std::string errors;
	std::string output;
	EXPECT_EQ(RunTool("print Desk " + junk, &errors, &output), 0) << errors;
	EXPECT_EQ(errors, "");
	EXPECT_EQ(output.rfind("printed 1 page on Desk", 0), 0u) << output;

	// Cut short, libjpeg only warns and would fill the rest with grey: the job fails in the
	// tool's one line, with libjpeg's words in it and not beside it.
	std::string cut = fRoot.Sub("cut.jpg");
	std::ofstream(cut, std::ios::binary) << jpeg.substr(0, jpeg.size() * 3 / 5);
	EXPECT_EQ(RunTool("print Desk " + cut, &errors), 1);
	EXPECT_EQ(errors, "tessary: not printed: " + cut
		+ ": damaged JPEG image (Premature end of JPEG file) (" + fRoot.Sub("out.pcl")
		+ " is as it was)\n");

	// An empty file named .jpg is no JPEG: one line, and nothing printed.
	std::string empty = fRoot.Sub("empty.jpg");
	std::ofstream(empty, std::ios::binary).close();
	EXPECT_EQ(RunTool("print Desk " + empty, &errors), 1);
	EXPECT_EQ(errors.rfind("tessary: ", 0), 0u) << errors;
	EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
	EXPECT_NE(errors.find("JPEG"), std::string::npos) << errors;
}
