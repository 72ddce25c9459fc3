#include "SpoolPlan.h"

#include "JobSettings.h"

#include <algorithm>
#include <climits>
#include <unistd.h>

namespace frontend {

bool SpoolPlan::Open(const std::vector<std::string>& documents, const BMessage& settings,
	const std::string& caption, bool turnWidePages, DocumentError* error)
{
	PageSetup setup = PageSetup::FromSettings(settings, turnWidePages);
	if (!setup.paper.IsValid() || setup.paper.Width() < 1 || setup.paper.Height() < 1) {
		*error = {"", "the paper size in the settings cannot be printed"};
		return false;
	}
	fDocuments.clear();
	fNames.clear();
	if (documents.empty()) {
		fDocuments.push_back(open_test_page(setup, caption));
		fNames.push_back("the test page");
	}
	for (const std::string& document : documents) {
		std::string reason;
		fDocuments.push_back(open_document(document, setup, &reason));
		fNames.push_back(document);
		if (fDocuments.back() == nullptr) {
			*error = {document, reason};
			return false;
		}
	}
	settings.FindInt32(kFirstPageField, &fFirstPage);
	settings.FindInt32(kLastPageField, &fLastPage);
	return true;
}

void SpoolPlan::_Range(size_t index, int32* first, int32* end) const
{
	int32 count = fDocuments[index]->CountPages();
	*end = fLastPage >= 0 ? std::min(fLastPage, count) : count;
	*first = std::max(fFirstPage, 1) - 1;
}

int32 SpoolPlan::Pages() const
{
	int64 pages = 0;
	for (size_t i = 0; i < fDocuments.size(); i++) {
		if (fDocuments[i] == nullptr)
			continue;
		int32 first, end;
		_Range(i, &first, &end);
		pages += std::max(end - first, 0);
	}
	return static_cast<int32>(std::min<int64>(pages, INT32_MAX));
}

bool SpoolPlan::SpoolPages(SpoolWriter* writer, SpoolProgress* progress,
	DocumentError* error)
{
	for (size_t i = 0; i < fDocuments.size(); i++) {
		if (fDocuments[i] == nullptr)
			continue;
		int32 first, end;
		_Range(i, &first, &end);
		// The page range picks pages of each document; pages outside it are never drawn.
		for (int32 page = first; page < end; page++) {
			if (progress != nullptr && !progress->BeforePage(i)) {
				*error = {fNames[i], "stopped after " + std::to_string(writer->PageCount())
					+ " pages"};
				return false;
			}
			off_t start = writer->Position();
			std::string reason;
			if (!fDocuments[i]->RecordPage(page, writer, &reason)) {
				*error = {fNames[i], reason};
				return false;
			}
			if (progress != nullptr)
				progress->PageWritten(writer->Position(), start);
		}
		fDocuments[i].reset();
	}
	return true;
}

bool write_spool(const std::string& path, const std::vector<std::string>& documents,
	const BMessage& settings, const std::string& caption, int32* pages, DocumentError* error,
	bool turnWidePages, const std::function<bool()>& stopped)
{
	SpoolPlan plan;
	if (!plan.Open(documents, settings, caption, turnWidePages, error))
		return false;
	// The spool writer's reasons name the spool file themselves.
	SpoolWriter writer;
	std::string reason;
	if (!writer.Open(path, settings, &reason, plan.Pages())) {
		*error = {"", reason};
		return false;
	}
	struct Stopper : SpoolProgress {
		const std::function<bool()>& stopped;
		explicit Stopper(const std::function<bool()>& stop) : stopped(stop) {}
		bool BeforePage(size_t) override { return !stopped || !stopped(); }
		void PageWritten(off_t, off_t) override {}
	} stopper(stopped);
	bool spooled = plan.SpoolPages(&writer, &stopper, error);
	if (spooled && !writer.Close(&reason)) {
		*error = {"", reason};
		spooled = false;
	}
	if (!spooled) {
		unlink(path.c_str());
		return false;
	}
	*pages = writer.PageCount();
	return true;
}

}  // namespace frontend
