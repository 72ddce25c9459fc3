// The driver add-on's exported hooks. The print server loads the add-on "Tessary" and calls
// these by their plain names; everything else in the add-on is reached through them.
//
// take_job finds the printer's transport by the "transport" attribute of the printer's node,
// loads that transport add-on, runs the job into the stream it opens, and unloads it again.
// The node's "compression" attribute says how the job's rows are sent.
// add_printer labels a new printer's folder. config_page and config_job run the page setup and
// job setup dialogs on a copy of the settings; their bodies live with the dialogs.

#include "DeviceModel.h"
#include "JobOutcome.h"
#include "JobSettings.h"
#include "OutputBuffer.h"
#include "SetupHooks.h"
#include "TessaryPrint.h"

#include <Directory.h>
#include <File.h>
#include <FindDirectory.h>
#include <Message.h>
#include <Node.h>
#include <Path.h>
#include <TypeConstants.h>
#include <fs_attr.h>
#include <image.h>

#include <cstring>
#include <string>

#define TESSARY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// A transport name is at most 127 characters before its NUL.
const size_t kTransportNameSize = 128;

typedef BDataIO* (*init_transport_func)(BMessage*, BMessage*);
typedef void (*exit_transport_func)();

// A name read from an attribute becomes a file name below the transport folder: it must not
// be able to leave that folder, or the driver would load code from anywhere.
bool is_plain_leaf_name(const char* name)
{
	return name[0] != '\0' && strchr(name, '/') == nullptr && strcmp(name, ".") != 0
		&& strcmp(name, "..") != 0;
}

// Reads the printer node's "transport" attribute into name; false when it is missing, empty,
// unsafe, or too long to hold with its NUL in kTransportNameSize bytes (refused, not cut).
bool read_transport_name(BNode* printer, char (&name)[kTransportNameSize])
{
	attr_info info;
	if (printer->GetAttrInfo(device::kTransportAttr, &info) != B_OK || info.type != B_STRING_TYPE
		|| info.size <= 0 || info.size > static_cast<off_t>(kTransportNameSize))
		return false;
	memset(name, 0, sizeof(name));
	ssize_t read = printer->ReadAttr(device::kTransportAttr, B_STRING_TYPE, 0, name, sizeof(name));
	if (read <= 0)
		return false;
	// The attribute holds the NUL: a value of 128 bytes without one in the last place would
	// not fit, so it is refused rather than cut short.
	if (memchr(name, '\0', static_cast<size_t>(read)) == nullptr)
		return false;
	return is_plain_leaf_name(name);
}

// How the printer's rows are sent: packed only where its "compression" attribute asks for
// it by name; whole when it is missing, unreadable or anything else, as every printer reads.
RowEncoding read_row_encoding(BNode* printer)
{
	attr_info info;
	char value[16] = {};
	if (printer->GetAttrInfo(device::kCompressionAttr, &info) != B_OK
		|| info.type != B_STRING_TYPE || info.size <= 0
		|| info.size > static_cast<off_t>(sizeof(value)))
		return RowEncoding::kWhole;
	ssize_t read = printer->ReadAttr(device::kCompressionAttr, B_STRING_TYPE, 0, value,
		sizeof(value) - 1);
	if (read <= 0)
		return RowEncoding::kWhole;
	return device::compresses_rows(std::string(value, strnlen(value, static_cast<size_t>(read))))
		? RowEncoding::kPacked : RowEncoding::kWhole;
}

// Loads the transport, runs the job into its stream and closes it again. Returns the
// outcome of a job that never reached DoJob; a job that did has its record written here,
// before the transport closes, and *recorded set. `image` is left loaded (or negative) for
// the caller to unload.
JobOutcome run_job(BFile* spool_file, BNode* printer_folder, BMessage* result, image_id* image,
	bool* recorded)
{
	JobOutcome outcome;
	outcome.stop = JobStop::no_transport;

	// The transport the printer uses, from the node that "printer" designates.
	int32 token = 0;
	BNode* printer = nullptr;
	if (result->FindInt32(kPrinterField, 0, &token) == B_OK)
		printer = node_from_token(token);
	char transportName[kTransportNameSize];
	if (printer == nullptr) {
		outcome.detail = "the settings name no printer (\"printer\")";
		return outcome;
	}
	if (!read_transport_name(printer, transportName)) {
		outcome.detail = "the printer names no usable transport (\"transport\")";
		return outcome;
	}

	BPath addonsPath;
	find_directory(B_BEOS_ADDONS_DIRECTORY, &addonsPath);
	addonsPath.Append("Print");
	BPath transportPath(addonsPath);
	transportPath.Append("transport");
	transportPath.Append(transportName);

	*image = load_add_on(transportPath.Path());
	if (*image < 0) {
		outcome.detail = std::string("the transport \"") + transportName + "\" cannot be loaded";
		return outcome;
	}

	void* initSymbol = nullptr;
	void* exitSymbol = nullptr;
	if (get_image_symbol(*image, "init_transport", B_SYMBOL_TYPE_TEXT, &initSymbol) != B_OK
		|| get_image_symbol(*image, "exit_transport", B_SYMBOL_TYPE_TEXT, &exitSymbol) != B_OK
		|| initSymbol == nullptr || exitSymbol == nullptr) {
		outcome.detail = std::string("the transport \"") + transportName
			+ "\" lacks init_transport or exit_transport";
		return outcome;
	}
	auto init_transport = reinterpret_cast<init_transport_func>(initSymbol);
	auto exit_transport = reinterpret_cast<exit_transport_func>(exitSymbol);

	// The printer folder's path is what the transport is told to open.
	node_ref folderRef;
	BPath folderPath;
	if (printer_folder != nullptr && printer_folder->GetNodeRef(&folderRef) == B_OK) {
		BDirectory folder(&folderRef);
		folderPath.SetTo(&folder, nullptr);
	}

	BMessage reply;
	BMessage open('TRIN');
	open.AddString(kPrinterFileField, folderPath.Path() != nullptr ? folderPath.Path() : "");

	stream = init_transport(&open, &reply);
	if (stream == nullptr) {
		outcome.detail = std::string("the transport \"") + transportName
			+ "\" could not open the printer";
		return outcome;
	}
	DoJob(spool_file, read_row_encoding(printer));
	outcome = job_outcome;
	// The transport may look at the record when it closes: a File transport keeps the old
	// file in place of a job that stopped early.
	(void)write_job_outcome(printer_folder, outcome);
	*recorded = true;
	exit_transport();
	stream = nullptr;  // the transport has released it
	return outcome;
}

}  // namespace

TESSARY_EXPORT BMessage* take_job(BFile* spool_file, BNode* printer_folder, BMessage* settings)
{
	BMessage* result = new BMessage(*settings);
	// No record of an earlier job may be read as this one's.
	clear_job_outcome(printer_folder);

	image_id image = -1;
	bool recorded = false;
	JobOutcome outcome = run_job(spool_file, printer_folder, result, &image, &recorded);
	if (!recorded)
		(void)write_job_outcome(printer_folder, outcome);
	if (image >= 0)
		unload_add_on(image);
	return result;
}

TESSARY_EXPORT char* add_printer(const char* printer_name)
{
	if (printer_name == nullptr || !is_plain_leaf_name(printer_name))
		return nullptr;

	BPath path;
	find_directory(B_COMMON_SETTINGS_DIRECTORY, &path);
	path.Append("printers");
	path.Append(printer_name);

	BDirectory folder(path.Path());
	if (folder.InitCheck() != B_OK)
		return nullptr;

	static const char kComment[] = "Tessary printer";
	folder.WriteAttr(device::kCommentsAttr, B_STRING_TYPE, 0, kComment, sizeof(kComment));
	return const_cast<char*>(printer_name);  // the hook's contract: the caller's own name
}

TESSARY_EXPORT BMessage* config_page(BNode* printer_folder, BMessage* settings)
{
	(void)printer_folder;  // the page setup is the same for every printer of this driver
	return run_config_page(settings);
}

TESSARY_EXPORT BMessage* config_job(BNode* printer_folder, BMessage* settings)
{
	(void)printer_folder;  // the job setup is the same for every printer of this driver
	return run_config_job(settings);
}
