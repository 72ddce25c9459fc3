// Documents made to break their readers, for the tests of every way in.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// A PDF of `objects`, numbered from 1 with object 1 the catalog, with its cross-reference
// table; `trailer` adds entries to the trailer's dictionary.
inline std::string pdf_of_objects(const std::vector<std::string>& objects,
	const std::string& trailer = "")
{
	std::string pdf = "%PDF-1.4\n";
	std::vector<size_t> offsets;
	for (size_t i = 0; i < objects.size(); i++) {
		offsets.push_back(pdf.size());
		pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
	}
	size_t xref = pdf.size();
	pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
	for (size_t offset : offsets) {
		char line[32];
		snprintf(line, sizeof(line), "%010zu 00000 n \n", offset);
		pdf += line;
	}
	pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailer
		+ " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
	return pdf;
}

// A PDF whose one image claims 2^31 - 1 pixels a side: poppler gives up on the allocation by
// ending the process that reads it ("Bogus memory allocation size").
inline std::string bogus_image_pdf()
{
	std::string content = "q 200 0 0 200 100 100 cm /Im1 Do Q";
	std::string jpeg = std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01"
		"\x00\x00", 20) + std::string(64, '\x08') + "\xff\xd9";
	std::vector<std::string> objects = {
		"<< /Type /Catalog /Pages 2 0 R >>",
		"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
		"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 5 0 R"
			" >> >> /Contents 4 0 R >>",
		"<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content
			+ "\nendstream",
		"<< /Type /XObject /Subtype /Image /Width 2147483647 /Height 2147483647 "
			"/BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /DCTDecode /Length "
			+ std::to_string(jpeg.size()) + " >>\nstream\n" + jpeg + "\nendstream",
	};
	return pdf_of_objects(objects);
}
