// What the Debian packages install, as a user meets it once they are installed: the packages
// built by scripts/test-packages.sh (the folder named by TESSARY_PACKAGES) are unpacked with
// dpkg-deb -x into a temporary root, never installed, and the unpacked programs print a PDF to
// a File printer, print through the project's private cupsd with the unpacked filter and PPD,
// answer --version, and run as the service unit runs the printer application.
//
// An unpacked program needs one thing an installed one does not: its run path names the
// private folder where the package installs it (/usr/lib/<multiarch>/tessary), which is not
// there on this machine, so LD_LIBRARY_PATH names the unpacked one (the CUPS filter is given
// it by a script that runs it: cupsd hands its filters no loader variables). Everything else
// (the add-ons, the transports, the document reader, the job process) the programs find from
// where they are themselves.
#include "PackageSupport.h"
#include "cups/PclPages.h"
#include "cups/PrivateScheduler.h"

#include "TessaryVersion.h"

#include <gtest/gtest.h>

#include <cairo-pdf.h>
#include <cairo.h>

#include <elf.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Whether the file is an ELF program (one with an interpreter), not a shared object or
// add-on.
// The programs a job log says the scheduler started for the job, in order.
std::vector<std::string> started_filters(const std::string& jobLog)
{
	std::istringstream log(jobLog);
	std::vector<std::string> started;
	const std::string marker = "Started filter ";
	for (std::string line; std::getline(log, line);) {
		size_t at = line.find(marker);
		if (at == std::string::npos)
			continue;
		std::string program = line.substr(at + marker.size());
		started.push_back(fs::path(program.substr(0, program.find(" (PID"))).filename());
	}
	return started;
}

bool is_elf_program(const std::string& path)
{
	std::ifstream file(path, std::ios::binary);
	Elf64_Ehdr header;
	if (!file.read(reinterpret_cast<char*>(&header), sizeof(header))
		|| memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64
		|| header.e_phentsize != sizeof(Elf64_Phdr))
		return false;
	for (int i = 0; i < header.e_phnum; i++) {
		Elf64_Phdr program;
		file.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof(Elf64_Phdr)));
		if (!file.read(reinterpret_cast<char*>(&program), sizeof(program)))
			return false;
		if (program.p_type == PT_INTERP)
			return true;
	}
	return false;
}

// #pragma mark - documents

struct Box {
	double x, y, width, height;  // points from the page's top left corner
	double red, green, blue;
	uint8_t inks;
};

// A US Letter page with a red box at the top left and a blue one at the bottom right: where
// the inks land tells a page turned or moved from one printed as it is.
const double kPageWidth = 612;
const double kPageHeight = 792;
const std::vector<Box> kBoxes = {
	{36, 36, 144, 108, 1, 0, 0, kMagentaInk | kYellowInk},
	{400, 600, 150, 120, 0, 0, 1, kCyanInk | kMagentaInk},
};

void make_pdf(const std::string& path)
{
	cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), kPageWidth, kPageHeight);
	cairo_t* cairo = cairo_create(surface);
	for (const Box& box : kBoxes) {
		cairo_set_source_rgb(cairo, box.red, box.green, box.blue);
		cairo_rectangle(cairo, box.x, box.y, box.width, box.height);
		cairo_fill(cairo);
	}
	cairo_show_page(cairo);
	cairo_destroy(cairo);
	cairo_surface_finish(surface);
	ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
	cairo_surface_destroy(surface);
}

// The boxes on a sheet printed at `dpi` (the page's points where they are on the paper).
std::vector<InkBox> placed_boxes(int dpi)
{
	std::vector<InkBox> boxes;
	double scale = dpi / 72.0;
	for (const Box& box : kBoxes) {
		boxes.push_back({box.x * scale, box.y * scale, (box.x + box.width) * scale,
			(box.y + box.height) * scale, box.inks});
	}
	return boxes;
}


const char* const kPackages[] = {"tessary", "printer-driver-tessary", "tessary-printer-app"};

class InstalledPackages : public ::testing::Test {
protected:
	static void SetUpTestSuite()
	{
		const char* folder = getenv("TESSARY_PACKAGES");
		if (folder == nullptr || folder[0] == '\0')
			return;
		sFolder = folder;
		sRoot = make_temporary_folder("tessary-unpacked");
		for (const char* package : kPackages) {
			std::vector<std::string> found;
			glob_t matches;
			std::string pattern = sFolder + "/" + package + "_*.deb";
			if (glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
				for (size_t i = 0; i < matches.gl_pathc; i++)
					found.push_back(matches.gl_pathv[i]);
			}
			globfree(&matches);
			if (found.size() != 1) {
				sError = "expected one " + pattern + ", found " + std::to_string(found.size());
				return;
			}
			sDebs[package] = found[0];
			std::string output;
			if (run({"dpkg-deb", "-x", found[0], sRoot}, &output) != 0) {
				sError = "dpkg-deb -x " + found[0] + ": " + output;
				return;
			}
		}
		// dpkg-deb keeps the packages' modes; the root itself is the test's.
		chmod(sRoot.c_str(), 0755);
		glob_t matches;
		std::string pattern = sRoot + "/usr/lib/*/tessary";
		if (glob(pattern.c_str(), 0, nullptr, &matches) == 0 && matches.gl_pathc == 1)
			sPrivate = matches.gl_pathv[0];
		globfree(&matches);
		if (sPrivate.empty())
			sError = "no private folder " + pattern;
	}

	static void TearDownTestSuite()
	{
		if (!sRoot.empty()) {
			std::error_code ignored;
			fs::remove_all(sRoot, ignored);
		}
	}

	void SetUp() override
	{
		if (sFolder.empty())
			GTEST_SKIP() << "TESSARY_PACKAGES names no folder of built packages: "
							"scripts/test-packages.sh builds them and runs these tests";
		ASSERT_TRUE(sError.empty()) << sError;
		fScratch = make_temporary_folder("tessary-package-test");
	}

	void TearDown() override
	{
		if (!fScratch.empty())
			fs::remove_all(fScratch);
	}

	// What an unpacked program needs that an installed one does not (see the top).
	static Environment Unpacked() { return {{"LD_LIBRARY_PATH", sPrivate}}; }

	// Runs an unpacked program (a path below the root) with the test's root folder.
	int RunUnpacked(const std::string& program, std::vector<std::string> arguments,
		std::string* output)
	{
		arguments.insert(arguments.begin(), sRoot + program);
		Environment environment = Unpacked();
		environment["TESSARY_ROOT"] = fScratch + "/root";
		return run(arguments, output, environment);
	}

	// The paths a package holds (./usr/bin/tessary -> usr/bin/tessary), folders left out.
	static std::vector<std::string> Contents(const std::string& package)
	{
		std::string list;
		EXPECT_EQ(run({"sh", "-c", "dpkg-deb --fsys-tarfile '" + sDebs[package]
			+ "' | tar -t"}, &list), 0) << list;
		std::vector<std::string> paths;
		std::istringstream lines(list);
		for (std::string line; std::getline(lines, line);) {
			if (line.empty() || line.back() == '/')
				continue;
			paths.push_back(line.substr(line.rfind("./", 0) == 0 ? 2 : 0));
		}
		return paths;
	}

	static std::string Field(const std::string& package, const std::string& field)
	{
		std::string output;
		EXPECT_EQ(run({"dpkg-deb", "-f", sDebs[package], field}, &output), 0) << output;
		while (!output.empty() && output.back() == '\n')
			output.pop_back();
		return output;
	}

	static std::string sFolder;
	static std::string sRoot;
	static std::string sPrivate;
	static std::string sError;
	static std::map<std::string, std::string> sDebs;
	std::string fScratch;
};

std::string InstalledPackages::sFolder;
std::string InstalledPackages::sRoot;
std::string InstalledPackages::sPrivate;
std::string InstalledPackages::sError;
std::map<std::string, std::string> InstalledPackages::sDebs;

TEST_F(InstalledPackages, EachHoldsItsOwnPartInTheSystemsFolders)
{
	// "*" stands for the multiarch folder.
	const std::map<std::string, std::vector<std::string>> expected = {
		{"tessary", {"usr/bin/tessary", "usr/lib/*/tessary/libkits.so",
			"usr/lib/*/tessary/libkits-x11.so", "usr/lib/*/tessary/libtessary_vocabulary.so",
			"usr/lib/*/tessary/tessary-reader",
			"usr/lib/*/tessary/boot/home/config/add-ons/Print/Tessary",
			"usr/lib/*/tessary/boot/beos/system/add-ons/Print/transport/File",
			"usr/lib/*/tessary/boot/beos/system/add-ons/Print/transport/Socket",
			"usr/lib/*/tessary/boot/beos/system/add-ons/Print/transport/Pipe",
			"usr/share/man/man1/tessary.1.gz", "usr/share/bash-completion/completions/tessary",
			"usr/share/doc/tessary/copyright"}},
		{"printer-driver-tessary", {"usr/lib/cups/filter/rastertotessary",
			"usr/lib/cups/filter/pdftotessary", "usr/share/cups/model/tessary.ppd",
			"usr/share/man/man8/rastertotessary.8.gz", "usr/share/man/man8/pdftotessary.8.gz",
			"usr/share/doc/printer-driver-tessary/copyright"}},
		{"tessary-printer-app", {"usr/bin/tessary-printer-app", "usr/lib/*/tessary/tessary-job",
			"lib/systemd/system/tessary-printer-app.service", "etc/default/tessary-printer-app",
			"usr/share/man/man1/tessary-printer-app.1.gz",
			"usr/share/doc/tessary-printer-app/copyright"}},
	};
	// Where the packages may put anything at all.
	const std::regex allowed("^(usr/bin/|usr/lib/[a-z0-9_]+-linux-gnu[a-z0-9_]*/tessary/"
		"|usr/lib/cups/filter/|usr/share/cups/model/|usr/share/man/man[18]/|usr/share/doc/"
		"|usr/share/bash-completion/completions/|lib/systemd/system/|etc/default/)");
	std::map<std::string, std::string> owner;
	for (const auto& [package, paths] : expected) {
		std::vector<std::string> contents = Contents(package);
		for (const std::string& path : contents) {
			EXPECT_TRUE(std::regex_search(path, allowed)) << package << " holds " << path;
			EXPECT_EQ(owner.count(path), 0u) << path << " is in " << owner[path] << " and "
											 << package;
			owner[path] = package;
		}
		for (const std::string& wanted : paths) {
			std::string regexText = "^";
			for (char c : wanted)
				regexText += c == '*' ? std::string("[^/]+") : c == '.' || c == '+'
					? std::string("\\") + c : std::string(1, c);
			regexText += "$";
			std::regex path(regexText);
			bool found = std::any_of(contents.begin(), contents.end(),
				[&](const std::string& held) { return std::regex_match(held, path); });
			EXPECT_TRUE(found) << package << " lacks " << wanted;
		}
	}
	// Every program in the search path and every CUPS filter has a manual page.
	for (const auto& [path, package] : owner) {
		std::smatch match;
		if (std::regex_match(path, match, std::regex("usr/bin/([^/]+)"))) {
			EXPECT_EQ(owner.count("usr/share/man/man1/" + match[1].str() + ".1.gz"), 1u) << path;
		}
		if (std::regex_match(path, match, std::regex("usr/lib/cups/filter/([^/]+)"))) {
			EXPECT_EQ(owner.count("usr/share/man/man8/" + match[1].str() + ".8.gz"), 1u) << path;
		}
	}
}

TEST_F(InstalledPackages, DependOnEachOtherAtTheirOwnVersionAndOnWhatTheyLoad)
{
	std::string version = Field("tessary", "Version");
	EXPECT_EQ(version.substr(0, version.find('-')), TESSARY_VERSION);
	for (const char* package : {"printer-driver-tessary", "tessary-printer-app"}) {
		EXPECT_EQ(Field(package, "Version"), version) << package;
		EXPECT_NE(Field(package, "Depends").find("tessary (= " + version + ")"),
			std::string::npos) << package << ": " << Field(package, "Depends");
	}
	std::string depends = Field("tessary", "Depends");
	// Libraries found from the programs' needs (shlibs), and the fonts fontconfig is asked for.
	for (const char* needed : {"libcairo2", "libpoppler-glib8", "libjpeg62-turbo", "libpng16-16",
			 "fonts-dejavu-core"})
		EXPECT_NE(depends.find(needed), std::string::npos) << needed << " in " << depends;
	EXPECT_NE(Field("tessary-printer-app", "Depends").find("libpappl1"), std::string::npos);
	EXPECT_NE(Field("printer-driver-tessary", "Depends").find("libcupsimage2"), std::string::npos);
}

TEST_F(InstalledPackages, EnableTheServiceAndPurgeItsState)
{
	std::string control = fScratch + "/control";
	std::string output;
	ASSERT_EQ(run({"dpkg-deb", "-e", sDebs["tessary-printer-app"], control}, &output), 0)
		<< output;
	std::string postinst = read_text(control + "/postinst");
	EXPECT_NE(postinst.find("deb-systemd-helper enable 'tessary-printer-app.service'"),
		std::string::npos) << postinst;
	std::string postrm = read_text(control + "/postrm");
	EXPECT_NE(postrm.find("rm -rf /var/lib/private/tessary-printer-app"), std::string::npos)
		<< postrm;
	EXPECT_NE(postrm.find("deb-systemd-helper purge 'tessary-printer-app.service'"),
		std::string::npos) << postrm;
	// The conffile an administrator edits.
	EXPECT_NE(read_text(control + "/conffiles").find("/etc/default/tessary-printer-app"),
		std::string::npos);
}

TEST_F(InstalledPackages, EveryProgramAnswersVersionWithTheProjectVersion)
{
	std::vector<std::string> programs;
	for (const std::string& folder : {sRoot + "/usr/bin", sRoot + "/usr/lib/cups/filter",
			 sPrivate}) {
		for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
			if (entry.is_regular_file() && access(entry.path().c_str(), X_OK) == 0
				&& is_elf_program(entry.path()))
				programs.push_back(entry.path());
		}
	}
	// The tool, the printer application, the two filters, the job process and the reader.
	std::sort(programs.begin(), programs.end());
	std::vector<std::string> names;
	for (const std::string& program : programs)
		names.push_back(fs::path(program).filename().string());
	EXPECT_EQ(names, (std::vector<std::string>{"tessary", "tessary-printer-app", "pdftotessary",
		"rastertotessary", "tessary-job", "tessary-reader"}));
	for (const std::string& program : programs) {
		std::string output;
		EXPECT_EQ(run({program, "--version"}, &output, Unpacked()), 0) << program << ": "
																	 << output;
		EXPECT_EQ(output, fs::path(program).filename().string() + " " TESSARY_VERSION "\n")
			<< program;
	}
}

TEST_F(InstalledPackages, ToolPrintsAPdfToAFilePrinterWithItsOwnAddOns)
{
	std::string pdf = fScratch + "/boxes.pdf";
	make_pdf(pdf);
	std::string target = fScratch + "/desk.pcl";
	std::string output;
	ASSERT_EQ(RunUnpacked("/usr/bin/tessary", {"printer", "add", "Desk", "--transport", "File",
		"--address", target}, &output), 0) << output;
	ASSERT_EQ(RunUnpacked("/usr/bin/tessary", {"print", "Desk", pdf}, &output), 0) << output;
	EXPECT_EQ(output.rfind("printed 1 page on Desk: ", 0), 0u) << output;

	// The root's add-ons are the unpacked ones, not a build tree's or another prefix's.
	for (const char* addon : {"boot/home/config/add-ons/Print/Tessary",
			 "boot/beos/system/add-ons/Print/transport/File"}) {
		fs::path link = fs::path(fScratch) / "root" / addon;
		ASSERT_TRUE(fs::is_symlink(link)) << link;
		EXPECT_EQ(fs::read_symlink(link), fs::path(sPrivate) / addon);
	}

	ASSERT_EQ(RunUnpacked("/usr/bin/tessary", {"preview", target, "-o", fScratch + "/preview"},
		&output), 0) << output;
	EXPECT_TRUE(fs::is_regular_file(fScratch + "/preview/page-001.png")) << output;
	std::vector<preview::Page> pages = decode_pages(read_bytes(target));
	ASSERT_EQ(pages.size(), 1u);
	// The job setup's 300 dpi, on the sheet where the printer puts its raster.
	expect_ink_boxes(on_sheets(pages)[0], placed_boxes(300));
}

TEST_F(InstalledPackages, CupsPrintsThroughTheUnpackedFilterAndPpd)
{
	PrivateScheduler scheduler({sRoot + "/usr/lib/cups/filter",
		sRoot + "/usr/share/cups/model/tessary.ppd",
		{"LD_LIBRARY_PATH=" + sPrivate}});
	std::string error;
	ASSERT_TRUE(scheduler.Start(&error)) << error;
	std::string output;
	ASSERT_EQ(scheduler.Run({"lpinfo", "-h", scheduler.Server(), "-m"}, &output), 0) << output;
	EXPECT_NE(output.find("tessary.ppd Tessary Colour Ink-Jet"), std::string::npos) << output;
	ASSERT_EQ(scheduler.Run({"lpadmin", "-h", scheduler.Server(), "-p", "Desk", "-E", "-v",
		"file://" + scheduler.OutputPath("desk.pcl"), "-m", "tessary.ppd"}, &output), 0)
		<< output;

	std::string pdf = scheduler.Folder() + "/boxes.pdf";
	make_pdf(pdf);
	chmod(pdf.c_str(), 0644);
	int job = scheduler.Print("Desk", {"-o", "Resolution=150dpi"}, pdf, &error);
	ASSERT_GT(job, 0) << error;
	ASSERT_EQ(scheduler.WaitForJobEnd(job), PrivateScheduler::kCompleted) << scheduler.JobLog(job);
	// The PDF went to the driver through the unpacked PDF filter, no raster filter between.
	EXPECT_EQ(started_filters(scheduler.JobLog(job)),
		(std::vector<std::string>{"pdftopdf", "pdftotessary"})) << scheduler.JobLog(job);
	std::vector<preview::Page> pages = decode_pages(read_bytes(scheduler.OutputPath("desk.pcl")));
	ASSERT_EQ(pages.size(), 1u);
	expect_ink_boxes(on_sheets(pages)[0], placed_boxes(150));
}

TEST_F(InstalledPackages, ServiceUnitVerifiesWithSystemd)
{
	if (!have_systemd_analyze())
		GTEST_SKIP() << "systemd-analyze is not installed (package systemd): the unit is not "
						"verified";
	add_system_targets(sRoot);
	check_unit_verifies(sRoot, sRoot + "/lib/systemd/system/tessary-printer-app.service");
}

TEST_F(InstalledPackages, ServiceStartsTheUnpackedServerAsConfigured)
{
	check_service_starts_as_configured(sRoot + "/lib/systemd/system/tessary-printer-app.service",
		sRoot + "/etc/default/tessary-printer-app", sRoot + "/usr/bin", Unpacked());
}

TEST_F(InstalledPackages, LintianFindsNoError)
{
	glob_t matches;
	std::string pattern = sFolder + "/tessary_*.changes";
	std::vector<std::string> changes;
	if (glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
		for (size_t i = 0; i < matches.gl_pathc; i++)
			changes.push_back(matches.gl_pathv[i]);
	}
	globfree(&matches);
	ASSERT_EQ(changes.size(), 1u) << pattern;
	std::string output;
	int status = run({"lintian", "--tag-display-limit", "0", changes[0]}, &output);
	EXPECT_EQ(status, 0) << output;
	std::istringstream lines(output);
	for (std::string line; std::getline(lines, line);)
		EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
	// What lintian says besides, for the record.
	std::cout << output;
}

}  // namespace

