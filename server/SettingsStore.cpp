#include "SettingsStore.h"

#include "DeviceModel.h"
#include "DriverFolders.h"
#include "JobSettings.h"

#include <DataIO.h>
#include <File.h>
#include <TypeConstants.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <unistd.h>

namespace server {

namespace {

const char* const kSettingsFileName = "settings";

std::string settings_path(const std::string& printer)
{
	return frontend::printer_folder(printer) + "/" + kSettingsFileName;
}

const char* type_name(type_code type)
{
	switch (type) {
		case B_INT8_TYPE: return "int8";
		case B_INT16_TYPE: return "int16";
		case B_INT32_TYPE: return "int32";
		case B_INT64_TYPE: return "int64";
		case B_UINT8_TYPE: return "uint8";
		case B_UINT16_TYPE: return "uint16";
		case B_UINT32_TYPE: return "uint32";
		case B_UINT64_TYPE: return "uint64";
		case B_BOOL_TYPE: return "bool";
		case B_FLOAT_TYPE: return "float";
		case B_DOUBLE_TYPE: return "double";
		case B_STRING_TYPE: return "string";
		case B_RECT_TYPE: return "rect";
		case B_POINT_TYPE: return "point";
		case B_MESSAGE_TYPE: return "message";
		default: return nullptr;
	}
}

std::string format_float(double value)
{
	char text[64];
	snprintf(text, sizeof(text), "%g", value);
	return text;
}

std::string describe_value(const BMessage& settings, const char* name, type_code type,
	int32 index)
{
	char text[128];
	switch (type) {
		case B_INT8_TYPE: {
			int8 value = 0;
			settings.FindInt8(name, index, &value);
			return std::to_string(value);
		}
		case B_INT16_TYPE: {
			int16 value = 0;
			settings.FindInt16(name, index, &value);
			return std::to_string(value);
		}
		case B_INT32_TYPE: {
			int32 value = 0;
			settings.FindInt32(name, index, &value);
			return std::to_string(value);
		}
		case B_INT64_TYPE: {
			int64 value = 0;
			settings.FindInt64(name, index, &value);
			return std::to_string(value);
		}
		case B_BOOL_TYPE: {
			bool value = false;
			settings.FindBool(name, index, &value);
			return value ? "true" : "false";
		}
		case B_FLOAT_TYPE: {
			float value = 0;
			settings.FindFloat(name, index, &value);
			return format_float(value);
		}
		case B_DOUBLE_TYPE: {
			double value = 0;
			settings.FindDouble(name, index, &value);
			return format_float(value);
		}
		case B_STRING_TYPE: {
			const char* value = "";
			settings.FindString(name, index, &value);
			return std::string("\"") + value + "\"";
		}
		case B_RECT_TYPE: {
			BRect value;
			settings.FindRect(name, index, &value);
			snprintf(text, sizeof(text), "(%s, %s, %s, %s)", format_float(value.left).c_str(),
				format_float(value.top).c_str(), format_float(value.right).c_str(),
				format_float(value.bottom).c_str());
			return text;
		}
		case B_POINT_TYPE: {
			BPoint value;
			settings.FindPoint(name, index, &value);
			snprintf(text, sizeof(text), "(%s, %s)", format_float(value.x).c_str(),
				format_float(value.y).c_str());
			return text;
		}
		default: {
			const void* data = nullptr;
			ssize_t size = 0;
			settings.FindData(name, type, index, &data, &size);
			snprintf(text, sizeof(text), "<%zd bytes>", size);
			return text;
		}
	}
}

std::string four_cc(uint32 code)
{
	std::string text = "'";
	for (int shift = 24; shift >= 0; shift -= 8) {
		char c = static_cast<char>((code >> shift) & 0xff);
		text += (c >= 0x20 && c < 0x7f) ? c : '?';
	}
	return text + "'";
}

}  // namespace

bool has_job_fields(const BMessage& settings)
{
	int32 xres;
	int16 copies;
	int16 bw;
	return settings.FindInt32(kXResField, &xres) == B_OK
		&& settings.FindInt16(kCopiesField, &copies) == B_OK
		&& settings.FindInt16(kBWModeField, &bw) == B_OK;
}

bool load_settings(const std::string& printer, BMessage* settings, std::string* error)
{
	std::string path = settings_path(printer);
	if (access(path.c_str(), F_OK) != 0) {
		device::default_settings(settings);
		return true;
	}
	BFile file(path.c_str(), B_READ_ONLY);
	if (file.InitCheck() != B_OK) {
		*error = "cannot open " + path + ": " + strerror_be(file.InitCheck());
		return false;
	}
	status_t status = settings->Unflatten(&file);
	if (status != B_OK) {
		*error = "the settings of " + printer + " are damaged (" + strerror_be(status)
			+ "); run `tessary settings " + printer + " --reset`";
		return false;
	}
	return true;
}

bool save_settings(const std::string& printer, const BMessage& settings, std::string* error)
{
	std::string path = settings_path(printer);
	std::string partial = path + ".new";
	{
		BFile file(partial.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
		status_t status = file.InitCheck();
		if (status == B_OK)
			status = settings.Flatten(&file);
		if (status != B_OK) {
			*error = "cannot write " + partial + ": " + strerror_be(status);
			unlink(partial.c_str());
			return false;
		}
	}
	if (rename(partial.c_str(), path.c_str()) != 0) {
		*error = "cannot replace " + path + ": " + strerror(errno);
		unlink(partial.c_str());
		return false;
	}
	return true;
}

std::string describe_settings(const BMessage& settings)
{
	std::ostringstream out;
	out << "what " << four_cc(settings.what) << "\n";
	char* name = nullptr;
	type_code type = 0;
	int32 count = 0;
	for (int32 i = 0; settings.GetInfo(B_ANY_TYPE, i, &name, &type, &count) == B_OK; i++) {
		const char* typeName = type_name(type);
		out << name << " " << (typeName != nullptr ? typeName : four_cc(type)) << " ";
		for (int32 index = 0; index < count; index++) {
			if (index > 0)
				out << ", ";
			out << describe_value(settings, name, type, index);
		}
		out << "\n";
	}
	return out.str();
}

}  // namespace server
