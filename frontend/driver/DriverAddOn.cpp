#include "DriverAddOn.h"

#include "JobSettings.h"
#include "DriverFolders.h"

#include <File.h>
#include <Message.h>
#include <Node.h>

#include <image.h>

namespace frontend {

DriverAddOn::~DriverAddOn()
{
	if (fImage >= 0)
		unload_add_on(fImage);
}

bool DriverAddOn::Load(std::string* error)
{
	if (fImage >= 0)
		return true;
	if (!ensure_addons_installed(error))
		return false;
	std::string path = driver_addon_path();
	image_id image = load_add_on(path.c_str());
	if (image < 0) {
		*error = "cannot load the driver add-on " + path + ": " + strerror_be(image);
		return false;
	}
	void* symbol = nullptr;
	if (get_image_symbol(image, "take_job", B_SYMBOL_TYPE_TEXT, &symbol) == B_OK)
		fTakeJob = reinterpret_cast<take_job_hook>(symbol);
	if (get_image_symbol(image, "add_printer", B_SYMBOL_TYPE_TEXT, &symbol) == B_OK)
		fAddPrinter = reinterpret_cast<add_printer_hook>(symbol);
	if (get_image_symbol(image, "config_page", B_SYMBOL_TYPE_TEXT, &symbol) == B_OK)
		fConfigPage = reinterpret_cast<config_hook>(symbol);
	if (get_image_symbol(image, "config_job", B_SYMBOL_TYPE_TEXT, &symbol) == B_OK)
		fConfigJob = reinterpret_cast<config_hook>(symbol);
	if (fTakeJob == nullptr || fAddPrinter == nullptr) {
		unload_add_on(image);
		fTakeJob = nullptr;
		fAddPrinter = nullptr;
		*error = "the driver add-on " + path + " lacks its take_job or add_printer hook";
		return false;
	}
	fImage = image;
	return true;
}

bool DriverAddOn::AddPrinter(const std::string& name, std::string* error)
{
	if (fAddPrinter == nullptr) {
		*error = "the driver add-on is not loaded";
		return false;
	}
	if (fAddPrinter(name.c_str()) == nullptr) {
		*error = "the driver refused the printer \"" + name + "\"";
		return false;
	}
	return true;
}

BMessage* DriverAddOn::TakeJob(BFile* spool, BNode* printer, BMessage* settings)
{
	return fTakeJob != nullptr ? fTakeJob(spool, printer, settings) : nullptr;
}

void DriverAddOn::PrintSpool(BFile* spool, BNode* printer, BMessage settings)
{
	int32 token = register_node_token(printer);
	store_field(&settings, kPrinterField, token);
	delete TakeJob(spool, printer, &settings);
	unregister_node_token(token);
}

BMessage* DriverAddOn::ConfigPage(BNode* printer, BMessage* settings, std::string* error)
{
	if (fConfigPage == nullptr) {
		*error = "the driver add-on has no page setup";
		return nullptr;
	}
	return fConfigPage(printer, settings);
}

BMessage* DriverAddOn::ConfigJob(BNode* printer, BMessage* settings, std::string* error)
{
	if (fConfigJob == nullptr) {
		*error = "the driver add-on has no job setup";
		return nullptr;
	}
	return fConfigJob(printer, settings);
}

}  // namespace frontend
