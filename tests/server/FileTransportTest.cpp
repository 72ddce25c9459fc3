// The File transport's targets as a user meets them through the print tool: a FIFO and a
// pseudo-terminal (a character device, as a USB or serial printer appears) take the whole
// stream and stay what they were; a symbolic link is written through, to the file it names
// (which is replaced all or nothing) or to the device; a device that is absent, a FIFO that
// nothing reads, a folder, are refused in one line; and the spool files of failed jobs are
// kept for a retry, a few at most, with the command that retries them.

#include "DriverFolders.h"
#include "Printers.h"
#include "SettingsStore.h"
#include "support/TempRoot.h"

#include "JobSettings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> read_file(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
}

// Reads a descriptor on a thread of its own until its writer closes it, or until `enough`
// bytes came. A minute without a byte ends the reading: a watchdog, so a job that never
// writes fails the test instead of hanging.
class Drain {
public:
	explicit Drain(int fd, size_t enough = SIZE_MAX)
		: fFd(fd), fEnough(enough), fThread([this] { _Read(); }) {}
	~Drain()
	{
		if (fThread.joinable())
			fThread.join();
		close(fFd);
	}

	std::vector<uint8_t> Bytes()
	{
		fThread.join();
		return fBytes;
	}

private:
	void _Read()
	{
		char buffer[65536];
		while (fBytes.size() < fEnough) {
			pollfd reader = {fFd, POLLIN, 0};
			if (poll(&reader, 1, 60000) <= 0)
				return;
			ssize_t got = read(fFd, buffer, sizeof(buffer));
			if (got < 0 && (errno == EAGAIN || errno == EINTR))
				continue;
			if (got <= 0)
				return;
			fBytes.insert(fBytes.end(), buffer, buffer + got);
		}
	}

	int fFd;
	size_t fEnough;
	std::vector<uint8_t> fBytes;
	std::thread fThread;
};

class FileTransport : public ::testing::Test {
protected:
	void SetUp() override
	{
		fText = fRoot.Sub("letter.txt");
		std::ofstream(fText) << "A letter to a printer on a port of its own.\n";
	}

	// Adds the printer "Desk" for `address`, printing Letter at 75 dpi in colour: a stream of
	// some 300 KB, more than a pipe or a terminal holds at once.
	void AddDesk(const std::string& address)
	{
		std::string error;
		ASSERT_TRUE(server::add_printer("Desk", "File", address, &error)) << error;
		BMessage settings;
		ASSERT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
		settings.ReplaceInt32(kXResField, 75);
		settings.ReplaceInt32(kYResField, 75);
		settings.ReplaceInt8(kQualityTypeField, 2);
		ASSERT_TRUE(server::save_settings("Desk", settings, &error)) << error;
	}

	// Runs `tessary ARGUMENTS`; its exit status, with standard error (the leak checker's
	// summary of a sanitizer build left out) in *errors.
	int Tool(const std::string& arguments, std::string* errors)
	{
		std::string errorsPath = fRoot.Sub("stderr.txt");
		std::string command = std::string(TESSARY_BUILD_DIR) + "/server/tessary " + arguments
			+ " >/dev/null 2>" + errorsPath;
		int status = system(command.c_str());
		std::vector<uint8_t> said = read_file(errorsPath);
		errors->assign(said.begin(), said.end());
		*errors = errors->substr(0, errors->find("-----"));
		return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	}

	// The stream of the letter, as the File transport writes it to a regular file.
	std::vector<uint8_t> Reference()
	{
		std::string file = fRoot.Sub("reference.pcl");
		std::string error;
		EXPECT_TRUE(server::add_printer("Reference", "File", file, &error)) << error;
		BMessage settings;
		EXPECT_TRUE(server::load_settings("Desk", &settings, &error)) << error;
		EXPECT_TRUE(server::save_settings("Reference", settings, &error)) << error;
		std::string errors;
		EXPECT_EQ(Tool("print Reference " + fText, &errors), 0) << errors;
		return read_file(file);
	}

	// The spool files kept in the printer's folder for a retry.
	std::vector<std::string> Kept() const
	{
		std::vector<std::string> kept;
		for (const auto& entry : fs::directory_iterator(frontend::printer_folder("Desk"))) {
			std::string name = entry.path().filename().string();
			if (entry.path().extension() == ".spool")
				kept.push_back(name);
		}
		std::sort(kept.begin(), kept.end());
		return kept;
	}

	TempRoot fRoot;
	std::string fText;
};

TEST_F(FileTransport, AFifoTakesTheWholeStreamAndStaysAFifo)
{
	std::string fifo = fRoot.Sub("printer.fifo");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	AddDesk(fifo);
	std::vector<uint8_t> expected = Reference();
	ASSERT_GT(expected.size(), 200u * 1024);

	Drain reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
	std::string errors;
	EXPECT_EQ(Tool("print Desk " + fText, &errors), 0) << errors;
	EXPECT_TRUE(reader.Bytes() == expected);
	struct stat status;
	ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
	EXPECT_TRUE(S_ISFIFO(status.st_mode));
	EXPECT_TRUE(Kept().empty());
}

// A pseudo-terminal's slave is a character device, as /dev/usb/lp0 is; a terminal (a serial
// printer) is set to pass every byte unchanged, so the master reads the stream as it was sent.
TEST_F(FileTransport, ACharacterDeviceTakesTheWholeStreamUnchangedAndStaysOne)
{
	// The test keeps the slave open, so that the master does not hang up between the jobs
	// that open it by its name, as they open a printer's node; the master is read until it
	// gave the whole stream, and then must have nothing more.
	int master = -1, slave = -1;
	char name[256];
	ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
	fcntl(master, F_SETFL, O_NONBLOCK);
	AddDesk(name);
	std::vector<uint8_t> expected = Reference();

	Drain reader(master, expected.size());
	std::string errors;
	EXPECT_EQ(Tool("print Desk " + fText, &errors), 0) << errors;
	std::vector<uint8_t> received = reader.Bytes();
	EXPECT_EQ(received.size(), expected.size());
	EXPECT_TRUE(received == expected);
	char more;
	EXPECT_EQ(read(master, &more, 1), -1);
	EXPECT_EQ(errno, EAGAIN);
	close(slave);
	struct stat status;
	ASSERT_EQ(stat(name, &status), 0);
	EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST_F(FileTransport, ALinkToAFileReplacesTheFileItNamesAndStaysALink)
{
	std::string folder = fRoot.Sub("spool");
	fs::create_directories(folder);
	std::string file = folder + "/real.pcl";
	std::string link = fRoot.Sub("desk.pcl");
	std::ofstream(file) << "the last job";
	fs::create_symlink("spool/real.pcl", link);
	AddDesk(link);
	std::vector<uint8_t> expected = Reference();

	std::string errors;
	EXPECT_EQ(Tool("print Desk " + fText, &errors), 0) << errors;
	EXPECT_TRUE(fs::is_symlink(link));
	EXPECT_EQ(fs::read_symlink(link), "spool/real.pcl");
	EXPECT_TRUE(read_file(file) == expected);
	// Nothing beside the link, nor beside the file but the file.
	EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

	// A job that does not print whole leaves the file the link names as it was.
	std::ofstream(file) << "the last job";
	std::string spool = fRoot.Sub("cut.spool");
	ASSERT_EQ(Tool("spool " + fText + " --printer Desk -o " + spool, &errors), 0) << errors;
	fs::resize_file(spool, fs::file_size(spool) - 10);
	EXPECT_EQ(Tool("print Desk --spool " + spool, &errors), 1);
	EXPECT_EQ(errors.rfind("tessary: not printed: the spool file ends inside page 1 (" + link
		+ " is as it was)\n", 0), 0u) << errors;
	std::vector<uint8_t> kept = read_file(file);
	EXPECT_EQ(std::string(kept.begin(), kept.end()), "the last job");
	EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(FileTransport, ALinkToADeviceIsWrittenThroughAndItsFailureSaid)
{
	std::string link = fRoot.Sub("full");
	fs::create_symlink("/dev/full", link);
	AddDesk(link);
	std::string errors;
	EXPECT_EQ(Tool("print Desk " + fText, &errors), 1);
	EXPECT_EQ(errors.rfind("tessary: the job failed after 0 bytes: cannot write to " + link
		+ ": No space left on device\n", 0), 0u) << errors;
	EXPECT_TRUE(fs::is_symlink(link));
	EXPECT_EQ(fs::read_symlink(link), "/dev/full");
	EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// Targets that cannot take a job say why in one line, before the driver sends anything, and
// are left as they were; nothing is created in their place.
TEST_F(FileTransport, TargetsThatCannotTakeTheJobAreRefusedInOneLine)
{
	std::string fifo = fRoot.Sub("unread.fifo");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	std::string folder = fRoot.Sub("a folder");
	fs::create_directories(folder);
	struct Case {
		std::string address;
		std::string line;  // after "tessary: not printed: "
	};
	const Case cases[] = {
		{"/dev/tessary-test-absent-printer", "no device /dev/tessary-test-absent-printer (is "
			"the printer connected and switched on?)"},
		{fifo, "nothing reads the FIFO " + fifo},
		{folder, folder + " is a folder, not a file or a printer's device"},
	};
	for (const Case& c : cases) {
		SCOPED_TRACE(c.address);
		std::string error;
		server::remove_printer("Desk", &error);
		AddDesk(c.address);
		std::string errors;
		EXPECT_EQ(Tool("print Desk " + fText, &errors), 1);
		std::string line = errors.substr(0, errors.find('\n'));
		EXPECT_EQ(line, "tessary: not printed: " + c.line);
	}
	EXPECT_FALSE(fs::exists("/dev/tessary-test-absent-printer"));
	struct stat status;
	ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
	EXPECT_TRUE(S_ISFIFO(status.st_mode));
	EXPECT_TRUE(fs::is_empty(folder));
}

// A failed job of documents leaves nothing behind, however many fail: its pages were in
// memory. One --keep-spool kept is named with the command that prints it again, and that
// command prints the job once the printer takes it.
TEST_F(FileTransport, FailedJobsLeaveNoSpoolFileButTheOneAskedForAndItsRetryPrints)
{
	std::string fifo = fRoot.Sub("printer.fifo");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	AddDesk(fifo);
	std::vector<uint8_t> expected = Reference();

	std::string errors;
	for (int job = 0; job < 3; job++) {
		EXPECT_EQ(Tool("print Desk " + fText, &errors), 1);
		EXPECT_EQ(errors.find("spool file"), std::string::npos) << errors;
	}
	EXPECT_TRUE(Kept().empty());

	EXPECT_EQ(Tool("print Desk --keep-spool " + fText, &errors), 1);
	const std::string note = "tessary: the spool file is kept; to retry: tessary print Desk "
		"--spool ";
	size_t at = errors.find(note);
	ASSERT_NE(at, std::string::npos) << errors;
	std::string spool = errors.substr(at + note.size(), errors.find('\n', at) - at - note.size());
	EXPECT_EQ(fs::path(spool).parent_path(), fs::path(frontend::printer_folder("Desk")));
	ASSERT_TRUE(fs::exists(spool)) << spool;
	EXPECT_EQ(Kept().size(), 1u);

	// Once something reads the FIFO, the retry prints the job, and the spool file stays.
	{
		Drain reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
		EXPECT_EQ(Tool("print Desk --spool " + spool, &errors), 0) << errors;
		EXPECT_TRUE(reader.Bytes() == expected);
	}
	EXPECT_TRUE(fs::exists(spool));
}

}  // namespace
