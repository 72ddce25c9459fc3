// The printer's compression setting: none until it is set, then the driver's rows packed for
// every job of the printer (and a job may name its own), the sheets the same dots.

#include "PclPreview.h"
#include "cups/PclPages.h"
#include "printerapp/AppServer.h"
#include "printerapp/Samples.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// The compression method the stream's first page header names: 0 or 2, -1 for none.
int method_of(const std::vector<uint8_t>& stream)
{
	const std::string text(stream.begin(), stream.end());
	const std::string lead = "\x1b&l0E\x1b*b";
	size_t at = text.find(lead);
	if (at == std::string::npos || at + lead.size() + 2 > text.size()
		|| text[at + lead.size() + 1] != 'M')
		return -1;
	return text[at + lead.size()] - '0';
}

class Compression : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(fServer.Start(&error)) << error;
		const SamplePage page = {8.5, 11, {{1, 1, 2, {1, 0, 0}}, {5, 7, 1.5, {0, 0, 1}}}};
		fPdf = fServer.Sub("page.pdf");
		fPwg = fServer.Sub("page.pwg");
		ASSERT_TRUE(write_pdf(fPdf, {page}));
		ASSERT_TRUE(write_pwg(fPwg, {page}, 75, "srgb_8"));
	}

	// Set-Printer-Attributes with one keyword; the ipptool's exit status.
	int SetPrinterKeyword(const std::string& name, const std::string& value)
	{
		std::string test = fServer.Sub("set-printer.test");
		std::ofstream(test) << "{\n\tOPERATION Set-Printer-Attributes\n"
			"\tGROUP operation-attributes-tag\n"
			"\tATTR charset attributes-charset utf-8\n"
			"\tATTR naturalLanguage attributes-natural-language en\n"
			"\tATTR uri printer-uri $uri\n"
			"\tATTR name requesting-user-name tester\n"
			"\tGROUP printer-attributes-tag\n"
			"\tATTR keyword " << name << " " << value << "\n"
			"\tSTATUS successful-ok\n}\n";
		std::string output;
		int status = fServer.Ipptool("-t '" + fServer.PrinterUri() + "' '" + test + "'",
			&output);
		EXPECT_EQ(status, 0) << output;
		return status;
	}

	// The printer's attribute as ipptool shows it ("name (keyword) = value").
	std::string PrinterAttribute(const std::string& name)
	{
		std::string test = fServer.Sub("get-printer.test");
		std::ofstream(test) << "{\n\tOPERATION Get-Printer-Attributes\n"
			"\tGROUP operation-attributes-tag\n"
			"\tATTR charset attributes-charset utf-8\n"
			"\tATTR naturalLanguage attributes-natural-language en\n"
			"\tATTR uri printer-uri $uri\n"
			"\tATTR keyword requested-attributes " << name << "\n"
			"\tSTATUS successful-ok\n"
			"\tDISPLAY " << name << "\n}\n";
		std::string output;
		EXPECT_EQ(fServer.Ipptool("-t '" + fServer.PrinterUri() + "' '" + test + "'", &output),
			0) << output;
		size_t at = output.find(name + " (");
		return at == std::string::npos ? output
			: output.substr(at, output.find('\n', at) - at);
	}

	// Prints the document with the job attributes; the stream that reached the printer.
	std::vector<uint8_t> Print(const std::string& document, const std::string& format,
		std::vector<std::string> attributes = {})
	{
		attributes.push_back("enum print-quality 3");
		JobResult job = print_and_wait(fServer, document, format, attributes);
		EXPECT_EQ(job.state, 9) << job.message << "\n" << job.output << fServer.LogTail();
		return fServer.NewBytes(fServer.OutputPath());
	}

	AppServer fServer;
	std::string fPdf;
	std::string fPwg;
};

}  // namespace

TEST_F(Compression, IsNoneUntilThePrinterIsSetToTiffAndTheSheetsStayTheSame)
{
	EXPECT_EQ(PrinterAttribute("tessary-compression-supported"),
		"tessary-compression-supported (1setOf keyword) = none,tiff");
	EXPECT_EQ(PrinterAttribute("tessary-compression-default"),
		"tessary-compression-default (keyword) = none");
	const struct {
		const char* label;
		std::string document;
		const char* format;
	} documents[] = {{"PDF", fPdf, "application/pdf"}, {"PWG raster", fPwg, "image/pwg-raster"}};
	std::vector<std::vector<uint8_t>> whole;
	for (const auto& d : documents) {
		whole.push_back(Print(d.document, d.format));
		EXPECT_EQ(method_of(whole.back()), 0) << d.label;
	}

	ASSERT_EQ(SetPrinterKeyword("tessary-compression-default", "tiff"), 0);
	EXPECT_EQ(PrinterAttribute("tessary-compression-default"),
		"tessary-compression-default (keyword) = tiff");
	for (size_t i = 0; i < std::size(documents); i++) {
		SCOPED_TRACE(documents[i].label);
		std::vector<uint8_t> packed = Print(documents[i].document, documents[i].format);
		EXPECT_EQ(method_of(packed), 2);
		EXPECT_LT(packed.size() * 4, whole[i].size());
		std::vector<preview::Page> sheets = decode_pages(whole[i]);
		std::vector<preview::Page> packedSheets = decode_pages(packed);
		ASSERT_EQ(sheets.size(), 1u);
		ASSERT_EQ(packedSheets.size(), 1u);
		EXPECT_EQ(packedSheets[0].rows, sheets[0].rows);
		EXPECT_TRUE(packedSheets[0].inks == sheets[0].inks);
		// A job may still ask for rows sent whole.
		EXPECT_EQ(method_of(Print(documents[i].document, documents[i].format,
			{"keyword tessary-compression none"})), 0);
	}
}
