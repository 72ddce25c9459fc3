// The driver add-on as the print server sees it: loaded from <user add-ons>/Print/Tessary
// and called through its plain C hooks.
#pragma once

#include <SupportDefs.h>

#include <string>

class BFile;
class BMessage;
class BNode;

namespace frontend {

class DriverAddOn {
public:
	DriverAddOn() = default;
	~DriverAddOn();
	DriverAddOn(const DriverAddOn&) = delete;
	DriverAddOn& operator=(const DriverAddOn&) = delete;

	// Installs the bundled add-ons into the root when needed, then loads the driver.
	bool Load(std::string* error);

	bool AddPrinter(const std::string& name, std::string* error);
	// The hooks' own results: a new message the caller owns, or NULL.
	BMessage* TakeJob(BFile* spool, BNode* printer, BMessage* settings);
	// Prints a spool file as the print server does: take_job is given the printer's node,
	// which it finds through a token in the settings' "printer" field. How the job went is in
	// the printer folder's records (JobOutcome.h, TransportOutcome.h).
	void PrintSpool(BFile* spool, BNode* printer, BMessage settings);
	BMessage* ConfigPage(BNode* printer, BMessage* settings, std::string* error);
	BMessage* ConfigJob(BNode* printer, BMessage* settings, std::string* error);

private:
	typedef BMessage* (*take_job_hook)(BFile*, BNode*, BMessage*);
	typedef char* (*add_printer_hook)(const char*);
	typedef BMessage* (*config_hook)(BNode*, BMessage*);

	image_id fImage = -1;
	take_job_hook fTakeJob = nullptr;
	add_printer_hook fAddPrinter = nullptr;
	config_hook fConfigPage = nullptr;
	config_hook fConfigJob = nullptr;
};

}  // namespace frontend
