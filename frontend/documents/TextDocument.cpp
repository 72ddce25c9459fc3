// Plain text set in the fixed font, ten points, half an inch from the edges of the page it
// is set on; lines too long for the page wrap, form feeds start a new page. The page is the
// paper as the page setup lays it out, so turned or scaled paper reflows the text.
#include "Documents.h"
#include "PageOutput.h"

#include <Font.h>
#include <View.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace frontend {

namespace {

const float kMargin = 37.5f;  // half an inch

// Splits text into printable lines: tabs to the next multiple of 8, form feeds start a new
// page (an empty string marks the break), bytes that are not UTF-8 become '?', other control
// characters are dropped.
std::vector<std::string> text_lines(const std::string& text, size_t columns)
{
	std::vector<std::string> lines;
	std::string line;
	size_t cells = 0;
	auto wrap = [&]() {
		lines.push_back(line);
		line.clear();
		cells = 0;
	};
	for (size_t i = 0; i < text.size();) {
		unsigned char c = static_cast<unsigned char>(text[i]);
		if (c == '\n') {
			wrap();
			i++;
			continue;
		}
		if (c == '\f') {
			if (!line.empty())
				wrap();
			lines.push_back(std::string("\f"));
			i++;
			continue;
		}
		if (c == '\t') {
			size_t next = (cells / 8 + 1) * 8;
			if (next > columns) {
				wrap();
			} else {
				line.append(next - cells, ' ');
				cells = next;
			}
			i++;
			continue;
		}
		size_t length = 1;
		bool valid = true;
		if (c >= 0x80) {
			length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 0;
			valid = length >= 2 && i + length <= text.size() && c < 0xf5;
			for (size_t k = 1; valid && k < length; k++)
				valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
		} else if (c < 0x20 || c == 0x7f) {
			i++;
			continue;
		}
		if (cells >= columns)
			wrap();
		if (valid) {
			line.append(text, i, length);
			i += length;
		} else {
			line += '?';
			i++;
		}
		cells++;
	}
	if (!line.empty())
		lines.push_back(line);
	return lines;
}

}  // namespace

class TextDocument : public Document {
public:
	TextDocument(const std::string& text, const PageSetup& setup)
		: fSetup(setup), fFont(be_fixed_font)
	{
		fFont.SetSize(10);
		fFont.GetHeight(&fHeight);
		fLineHeight = std::ceil(fHeight.ascent + fHeight.descent + fHeight.leading);
		float width, height;
		fPlacement = place_flow_page(setup, &width, &height);
		fArea = BRect(0, 0, width, height);
		fArea.InsetBy(kMargin, kMargin);
		float cellWidth = fFont.StringWidth("M");
		size_t columns = static_cast<size_t>(
			std::max(8.0f, std::floor((fArea.Width() + 1) / cellWidth)));
		size_t rows = static_cast<size_t>(
			std::max(1.0f, std::floor((fArea.Height() + 1) / fLineHeight)));
		_Paginate(text_lines(text, columns), rows);
	}

	int32 CountPages() const override { return static_cast<int32>(fPages.size()); }

	bool RecordPage(int32 index, PageSink* sink, std::string* error) override
	{
		const std::vector<std::string>& lines = fPages[index];
		return record_vector_page(fSetup, fPlacement, [&](ContentCanvas& canvas) {
			BView* view = canvas.View();
			BFont font(fFont);
			font.SetSize(canvas.S(10));
			view->SetFont(&font);
			view->SetHighColor(make_color(0, 0, 0));
			for (size_t row = 0; row < lines.size(); row++) {
				if (!lines[row].empty()) {
					view->DrawString(lines[row].c_str(), canvas.P(fArea.left,
						fArea.top + fHeight.ascent + row * fLineHeight));
				}
			}
		}, sink, error);
	}

private:
	// Pages of at most `rows` lines; a form feed ends a page early. Always at least one page.
	void _Paginate(const std::vector<std::string>& lines, size_t rows)
	{
		std::vector<std::string> page;
		size_t index = 0;
		do {
			page.clear();
			while (page.size() < rows && index < lines.size()) {
				if (lines[index] == "\f") {
					index++;
					break;
				}
				page.push_back(lines[index++]);
			}
			fPages.push_back(page);
		} while (index < lines.size());
	}

	PageSetup fSetup;
	Placement fPlacement;
	BFont fFont;
	font_height fHeight;
	float fLineHeight;
	BRect fArea;
	std::vector<std::vector<std::string>> fPages;
};

std::unique_ptr<Document> open_text(const std::string& text, const PageSetup& setup)
{
	return std::make_unique<TextDocument>(text, setup);
}

}  // namespace frontend
