// Attribute description returned by BNode::GetAttrInfo().
#pragma once

#include <SupportDefs.h>

struct attr_info {
	uint32 type;  // type code, e.g. B_STRING_TYPE
	off_t size;   // bytes of the value
};
