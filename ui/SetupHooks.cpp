#include "SetupHooks.h"

#include "DeviceModel.h"
#include "DialogValues.h"
#include "JobSettings.h"
#include "PageSetupInterface.h"
#include "PrintInterface.h"

#include <Message.h>

namespace {

// A copy of the server's settings for a dialog to write into; no settings at all count as
// empty ones.
BMessage* settings_copy(const BMessage* settings)
{
	return settings != nullptr ? new BMessage(*settings) : new BMessage();
}

bool confirmed(const BMessage* answer)
{
	int32 status;
	return answer->FindInt32(kStatusField, 0, &status) == B_OK && status != -1;
}

}  // namespace

BMessage* run_config_page(const BMessage* settings)
{
	BMessage* page = settings_copy(settings);
	PageSetupInterface interface;
	interface.RunInterface(page);
	if (!confirmed(page)) {
		delete page;
		return nullptr;
	}

	float width;
	float height;
	if (page->FindFloat(kPageWidthField, 0, &width) != B_OK
		|| page->FindFloat(kPageHeightField, 0, &height) != B_OK) {
		page->RemoveName(kPrintableRectField);
		return page;
	}

	// The printable area is the whole paper (no margins).
	const float margin = 0;
	BRect printable(0, 0, device::units_of_inches(width - margin),
		device::units_of_inches(height - margin));
	BRect paper(0, 0, device::units_of_inches(width), device::units_of_inches(height));
	store_field(page, kPrintableRectField, printable);
	store_field(page, kPaperRectField, paper);
	page->what = kSettingsConfirmed;
	return page;
}

BMessage* run_config_job(const BMessage* settings)
{
	BMessage* job = settings_copy(settings);
	PrintSetupInterface interface;
	interface.RunInterface(job);
	if (!confirmed(job)) {
		delete job;
		return nullptr;
	}

	int16 from = 1;
	int16 to = -1;
	int8 countType = 0;
	(void)job->FindInt16(kFromField, &from);  // each keeps its default when missing
	(void)job->FindInt16(kToField, &to);
	(void)job->FindInt8(kCountTypeField, &countType);
	int32 firstPage = from;
	int32 lastPage = to;
	if (countType == 0) {
		// All pages, whatever range an earlier setup left behind.
		firstPage = 1;
		lastPage = -1;
	}
	store_field(job, kFirstPageField, firstPage);
	store_field(job, kLastPageField, lastPage);

	int8 quality = 0;
	bool hasQuality = job->FindInt8(kQualityTypeField, &quality) == B_OK;
	int32 resolution = resolution_for_quality(hasQuality, quality);
	store_field(job, kXResField, resolution);
	store_field(job, kYResField, resolution);
	job->what = kSettingsConfirmed;
	return job;
}
