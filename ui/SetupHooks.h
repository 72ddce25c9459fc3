// The bodies of the add-on's config_page and config_job hooks, kept in the dialogs' library
// so that they can be called without loading the add-on. Each works on a copy of settings
// (never changing it) and returns a new message the caller owns, or NULL when the dialog was
// cancelled or gave no answer.
#pragma once

class BMessage;

BMessage* run_config_page(const BMessage* settings);
BMessage* run_config_job(const BMessage* settings);
