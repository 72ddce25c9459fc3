// tessary-driver-info: writes tessary.drv, the driver information file from which CUPS's
// driver compiler ppdc makes tessary.ppd, with the papers and resolutions of the device model
// (DeviceModel.h). The build runs it; nothing of the PPD's device facts is written by hand.
//
//	tessary-driver-info > tessary.drv
#include "DeviceModel.h"

#include <cstdio>

namespace {

void print_papers()
{
	// The printer cannot reach the sheet's left and top edges (the device model's raster
	// origin): ppdc gives every paper its ImageableArea inside these margins, and CUPS lays
	// documents inside it.
	device::Margins margins = device::margins_in_points();
	printf("HWMargins %g %g %g %g\n", margins.left, margins.bottom, margins.right,
		margins.top);
	for (int row = 0; row < device::kPaperCount; row++) {
		printf("%sMediaSize %s\n", row == device::kDefaultPaper ? "*" : "",
			device::kPapers[row].ppdName);
	}
}

void print_resolutions()
{
	for (int row = 0; row < device::kResolutionCount; row++) {
		const device::Resolution& resolution = device::kResolutions[row];
		printf("%sResolution - 8 0 0 0 \"%ddpi/%d DPI\"\n",
			row == device::kDefaultQualityType ? "*" : "", static_cast<int>(resolution.dpi),
			static_cast<int>(resolution.dpi));
	}
}

// Whether the driver packs its rows: the filters read the choice and write it into the
// printer folder's "compression", which the driver reads. No PostScript of its own: the
// raster's header carries nothing of it.
void print_compressions()
{
	printf("Option \"%s/%s\" PickOne AnySetup 10\n", device::kCompressionPpdOption,
		device::kCompressionPpdOption);
	for (int row = 0; row < device::kCompressionCount; row++) {
		const device::Compression& compression = device::kCompressions[row];
		printf("  %sChoice \"%s/%s\" \"\"\n", row == device::kDefaultCompression ? "*" : "",
			compression.ppdName, compression.ppdText);
	}
}

}  // namespace

int main()
{
	puts("// The Tessary colour ink-jet printer as CUPS sees it, compiled into tessary.ppd by ppdc.\n"
		"// Written by tessary-driver-info from the device model: the papers of the driver's page\n"
		"// setup, its resolutions, colour or one black plane, whether rows are compressed, and\n"
		"// the two filters that print through the driver: pdftotessary for PDF (after CUPS's\n"
		"// own pdftopdf), rastertotessary for CUPS raster (everything else).\n"
		"#include <media.defs>\n"
		"\n"
		"Manufacturer \"Tessary\"\n"
		"Version \"1.0\"\n"
		"ColorDevice Yes\n"
		"Throughput 1\n"
		"\n"
		"// The driver makes the copies itself: CUPS is not asked to repeat pages, but for\n"
		"// collated copies, which pdftopdf makes. The raster's header, or the copies argument of\n"
		"// a job not collated, tells the filters how many copies to make.\n"
		"ManualCopies No\n"
		"\n"
		"// With these lines CUPS takes the cheapest way to either filter: PDF and whatever\n"
		"// CUPS turns into PDF go through pdftopdf to pdftotessary, the rest through a raster\n"
		"// filter to rastertotessary.\n"
		"Attribute cupsFilter2 \"\" \"application/vnd.cups-pdf application/vnd.cups-pcl 0 "
		"pdftotessary\"\n"
		"Attribute cupsFilter2 \"\" \"application/vnd.cups-raster application/vnd.cups-pcl 0 "
		"rastertotessary\"\n");
	print_papers();
	puts("\n*ColorModel RGB/Color rgb chunky 0\n"
		"ColorModel Gray/Grayscale w chunky 0\n");
	print_resolutions();
	puts("");
	print_compressions();
	puts("\n{\n"
		"  ModelName \"Colour Ink-Jet\"\n"
		"  PCFileName \"tessary.ppd\"\n"
		"}");
	return ferror(stdout) != 0 ? 1 : 0;
}
