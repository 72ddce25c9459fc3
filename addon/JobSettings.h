// Field names of the Job settings message, the message of page and job settings that the
// print server passes to every hook and that each spooled job carries, and the one rule by
// which the driver writes its fields.
//
// The names are part of the stored settings and must stay byte for byte as they are
// ("prevous_settings" included). Helpers here are driver-side and snake_case.
#pragma once

#include <Message.h>

// Code the hooks put in "what" of a confirmed result.
const uint32 kSettingsConfirmed = 'okok';

// Job settings fields
extern const char* const kStatusField;           // int32: 0 confirmed, -1 cancelled
extern const char* const kPreviousSettingsField; // int8: paper size index ("prevous_settings")
extern const char* const kPageWidthField;        // float: inches
extern const char* const kPageHeightField;       // float: inches
extern const char* const kScalingField;          // float: percent
extern const char* const kLayoutField;           // int8: 0 portrait, 1 landscape
extern const char* const kPaperRectField;        // BRect: 1/75 inch
extern const char* const kPrintableRectField;    // BRect: 1/75 inch
extern const char* const kCopiesField;           // int16
extern const char* const kCountTypeField;        // int8: 0 all pages, 1 range
extern const char* const kFromField;             // int16
extern const char* const kToField;               // int16
extern const char* const kFirstPageField;        // int32
extern const char* const kLastPageField;         // int32: -1 to the end
extern const char* const kBWModeField;           // int16: 0 colour, 1 black and white
extern const char* const kQualityTypeField;      // int8: resolution index
extern const char* const kXResField;             // int32: dots per inch
extern const char* const kYResField;             // int32: dots per inch
extern const char* const kPrinterField;          // int32: the print server's printer node

// Fields of the dialogs' control messages
extern const char* const kCmdCodeField;          // int8: which control sent the message
extern const char* const kFormatChosenField;     // int8: index of the chosen menu item
extern const char* const kLayoutChosenField;     // int8: index of the chosen page layout

// Field of the open message handed to a transport
extern const char* const kPrinterFileField;

// Stores value under name so that the message holds exactly that one value afterwards: an
// existing single value of that name and type is replaced in place; otherwise any field of
// that name (another type, or several values) is dropped and the value added.
status_t store_field(BMessage* message, const char* name, int8 value);
status_t store_field(BMessage* message, const char* name, int16 value);
status_t store_field(BMessage* message, const char* name, int32 value);
status_t store_field(BMessage* message, const char* name, float value);
status_t store_field(BMessage* message, const char* name, BRect value);
status_t store_field(BMessage* message, const char* name, const char* value);
