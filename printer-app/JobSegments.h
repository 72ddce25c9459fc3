// How the server hands a job's settings to its job process: the settings message of a job
// printed with one set of settings, or, for a job whose overrides change them from page to
// page, a message of what 'sgmt' with one "segment" (B_MESSAGE_TYPE) per run of pages, each
// holding "settings" (the run's settings message, its page range among them).
#pragma once

#include <Message.h>

#include <vector>

namespace printer_app {

inline constexpr uint32 kSegmentsWhat = 'sgmt';
inline constexpr const char* kSegmentField = "segment";
inline constexpr const char* kSegmentSettingsField = "settings";

// The settings of every run, in order: one for a plain settings message.
inline std::vector<BMessage> settings_of_segments(const BMessage& message)
{
	std::vector<BMessage> runs;
	if (message.what != kSegmentsWhat) {
		runs.push_back(message);
		return runs;
	}
	BMessage segment;
	for (int32 i = 0; message.FindMessage(kSegmentField, i, &segment) == B_OK; i++) {
		BMessage settings;
		if (segment.FindMessage(kSegmentSettingsField, &settings) == B_OK)
			runs.push_back(settings);
	}
	return runs;
}

}  // namespace printer_app
