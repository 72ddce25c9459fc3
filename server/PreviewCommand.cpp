// preview FILE -o FOLDER: one PNG per page of a PCL stream, as the printer would print it: the
// sheet, with the page's raster where the printer puts it.
#include "Commands.h"
#include "PclPreview.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace fs = std::filesystem;

namespace server {

namespace {

struct PreviewOptions {
	std::string input;
	std::string output;
};

int run_preview(const PreviewOptions& options)
{
	std::ifstream file(options.input, std::ios::binary);
	if (!file)
		return fail("cannot open " + options.input);
	std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)),
		std::istreambuf_iterator<char>());
	std::error_code code;
	fs::create_directories(options.output, code);
	if (code)
		return fail("cannot create " + options.output + ": " + code.message());

	int pageNumber = 0;
	preview::DecodeError decodeError;
	bool decoded = preview::decode_stream(data.data(), data.size(),
		[&](const preview::Page& page, std::string* error) {
			pageNumber++;
			char name[32];
			snprintf(name, sizeof(name), "page-%03d.png", pageNumber);
			std::string path = (fs::path(options.output) / name).string();
			preview::Sheet sheet = preview::sheet_for(page);
			if (!preview::write_png(preview::on_sheet(page, sheet), path, error))
				return false;
			printf("%s -> %s\n", preview::summary_line(pageNumber, page, sheet).c_str(),
				path.c_str());
			return true;
		},
		&decodeError);
	if (!decoded) {
		return fail(options.input + ": at byte " + std::to_string(decodeError.offset) + ": "
			+ decodeError.message);
	}
	if (pageNumber == 0)
		printf("no pages\n");
	return 0;
}

}  // namespace

void add_preview_command(CLI::App& app, Commands* commands)
{
	auto options = std::make_shared<PreviewOptions>();
	CLI::App* preview = app.add_subcommand("preview",
		"Turn a PCL stream into one PNG per sheet, as the printer would print it");
	preview->add_option("FILE", options->input, "PCL file")->required()
		->check(CLI::ExistingFile);
	preview->add_option("-o,--output", options->output, "Folder for the PNG pages")
		->required();
	commands->push_back({preview, [options] { return run_preview(*options); }});
}

}  // namespace server
