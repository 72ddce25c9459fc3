// Field names of the Job settings message, the message of page and job settings that the
// print server passes to every hook and that each spooled job carries, and the one rule by
// which the driver writes its fields.
//
// The names are part of the stored settings and must stay byte for byte as they are
// ("prevous_settings" included). Helpers here are driver-side and snake_case.
#pragma once

#include <Message.h>

// Code the hooks put in "what" of a confirmed result.
inline constexpr uint32 kSettingsConfirmed = 'okok';

// Job settings fields, with type and meaning of the value.
inline constexpr const char* kStatusField = "status";  // int32: 0 confirmed, -1 cancelled
inline constexpr const char* kPreviousSettingsField = "prevous_settings";  // int8: paper index
inline constexpr const char* kPageWidthField = "page_width";  // float: inches
inline constexpr const char* kPageHeightField = "page_height";  // float: inches
inline constexpr const char* kScalingField = "scaling";  // float: percent
inline constexpr const char* kLayoutField = "layout";  // int8: 0 portrait, 1 landscape
inline constexpr const char* kPaperRectField = "paper_rect";  // BRect: 1/75 inch
inline constexpr const char* kPrintableRectField = "printable_rect";  // BRect: 1/75 inch
inline constexpr const char* kCopiesField = "copies";  // int16
inline constexpr const char* kCountTypeField = "count_type";  // int8: 0 all pages, 1 range
inline constexpr const char* kFromField = "from";  // int16: first page of the range
inline constexpr const char* kToField = "to";  // int16: last page of the range
inline constexpr const char* kFirstPageField = "first_page";  // int32
inline constexpr const char* kLastPageField = "last_page";  // int32: -1 to the end
inline constexpr const char* kBWModeField = "BWMode";  // int16: 0 colour, 1 black and white
inline constexpr const char* kQualityTypeField = "quality_type";  // int8: resolution index
inline constexpr const char* kXResField = "xres";  // int32: dots per inch
inline constexpr const char* kYResField = "yres";  // int32: dots per inch
inline constexpr const char* kPrinterField = "printer";  // int32: the server's printer node

// Fields of the dialogs' control messages (int8 each).
inline constexpr const char* kCmdCodeField = "cmd_code";  // which control sent the message
inline constexpr const char* kFormatChosenField = "format_chosen";  // chosen menu item
inline constexpr const char* kLayoutChosenField = "layout_chosen";  // chosen page layout

// Field of the open message handed to a transport.
inline constexpr const char* kPrinterFileField = "printer_file";

// Stores value under name so that the message holds exactly that one value afterwards: an
// existing single value of that name and type is replaced in place; otherwise any field of
// that name (another type, or several values) is dropped and the value added.
// Pass the exact type: store_field(message, kCopiesField, int16(2)); a bare literal is int32.
status_t store_field(BMessage* message, const char* name, int8 value);
status_t store_field(BMessage* message, const char* name, int16 value);
status_t store_field(BMessage* message, const char* name, int32 value);
status_t store_field(BMessage* message, const char* name, float value);
status_t store_field(BMessage* message, const char* name, BRect value);
status_t store_field(BMessage* message, const char* name, const char* value);
