// The layering as the built files show it: what each way in and each module carries, read
// from their dynamic sections and symbol tables with binutils. The X11 display is a library
// of its own that only the print tool loads; the CUPS filters and the printer application
// carry neither the dialogs nor the print tool's command; the CUPS filters read no documents
// themselves (the raster filter reads raster, the PDF filter has the document reader read
// the PDF).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::string kBuild = TESSARY_BUILD_DIR;
const std::string kStage = kBuild + "/stage/boot";

struct PipeCloser {
	void operator()(FILE* pipe) const { pclose(pipe); }
};

// What a command prints on standard output; fails the test when it does not run.
std::string output_of(const std::string& command)
{
	std::unique_ptr<FILE, PipeCloser> pipe(popen((command + " 2>&1").c_str(), "r"));
	if (pipe == nullptr) {
		ADD_FAILURE() << "cannot run " << command;
		return std::string();
	}
	std::string text;
	std::array<char, 4096> buffer;
	size_t got;
	while ((got = fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
		text.append(buffer.data(), got);
	return text;
}

// The libraries a file names in its dynamic section (NEEDED).
std::vector<std::string> needed(const std::string& path)
{
	std::string dynamic = output_of("readelf -d --wide '" + path + "'");
	EXPECT_NE(dynamic.find("Dynamic section"), std::string::npos) << path << ": " << dynamic;
	std::vector<std::string> libraries;
	std::regex entry(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
	for (std::sregex_iterator it(dynamic.begin(), dynamic.end(), entry), end; it != end; ++it)
		libraries.push_back((*it)[1]);
	return libraries;
}

bool names_one_of(const std::vector<std::string>& libraries, const std::regex& pattern,
	std::string* which)
{
	for (const std::string& library : libraries) {
		if (std::regex_search(library, pattern)) {
			*which = library;
			return true;
		}
	}
	return false;
}

const std::string kDriverAddOn = kStage + "/home/config/add-ons/Print/Tessary";
const std::string kTransports = kStage + "/beos/system/add-ons/Print/transport/";
const std::string kFilter = kBuild + "/cups/rastertotessary";
const std::string kPdfFilter = kBuild + "/cups/pdftotessary";
const std::string kPrinterApp = kBuild + "/printer-app/tessary-printer-app";
const std::string kKits = kBuild + "/kits/libkits.so";
const std::string kVocabulary = kBuild + "/vocabulary/libtessary_vocabulary.so";

}  // namespace

TEST(Linkage, NoModuleOfThePrintPathNamesAnX11Library)
{
	const std::regex x11("^lib(X11|xcb|xkbcommon|Xau|Xdmcp|kits-x11)");
	for (const std::string& path : {kDriverAddOn, kTransports + "File", kTransports + "Socket",
			 kTransports + "Pipe", kFilter, kPdfFilter, kKits, kVocabulary}) {
		std::string which;
		EXPECT_FALSE(names_one_of(needed(path), x11, &which)) << path << " needs " << which;
	}
	// The print tool shows the dialogs on X, through the display library alone.
	std::string which;
	EXPECT_TRUE(names_one_of(needed(kBuild + "/server/tessary"), std::regex("^libkits-x11"),
		&which));
	EXPECT_FALSE(names_one_of(needed(kBuild + "/server/tessary"), std::regex("^lib(xcb|X11)"),
		&which)) << which;
}

TEST(Linkage, TheCupsFiltersReadNoDocumentsThemselves)
{
	for (const std::string& path : {kFilter, kPdfFilter}) {
		std::string which;
		EXPECT_FALSE(names_one_of(needed(path), std::regex("^lib(poppler|png|jpeg|gio|glib)"),
			&which)) << path << " needs " << which;
	}
}

TEST(Linkage, NeitherTheFilterNorThePrinterApplicationCarriesTheDialogsOrTheCommand)
{
	// Symbols of the dialogs, the scripted dialog runs and the print tool's command.
	const std::regex foreign(R"((PageSetupWindow|PrintSetupWindow|PageSetupInterface|)"
		R"(PrintSetupInterface|server::run_page_setup|server::run_job_setup|)"
		R"(server::confirm_job_setup|server::print_job|server::show_setup_dialog|)"
		R"(InteractiveDisplay::))");
	for (const std::string& path : {kFilter, kPdfFilter, kPrinterApp}) {
		std::string symbols = output_of("nm -C --defined-only '" + path + "'");
		ASSERT_NE(symbols.find("main"), std::string::npos) << path << ": " << symbols;
		std::smatch found;
		EXPECT_FALSE(std::regex_search(symbols, found, foreign)) << path << " carries "
			<< found.str();
	}
}
