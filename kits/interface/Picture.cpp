// BPicture: a thin owner of one PictureData.
#include <Picture.h>

#include <Errors.h>

#include <utility>

#include "PictureData.h"

BPicture::BPicture()
	:
	fData(new PictureData),
	fInitStatus(B_OK)
{
}


BPicture::BPicture(const BPicture& other)
	:
	fData(new PictureData(*other.fData)),
	fInitStatus(other.fInitStatus)
{
}


BPicture& BPicture::operator=(const BPicture& other)
{
	if (this != &other) {
		*fData = *other.fData;
		fInitStatus = other.fInitStatus;
	}
	return *this;
}


BPicture::~BPicture()
{
	delete fData;
}


status_t BPicture::InitCheck() const
{
	return fInitStatus;
}


status_t BPicture::Unflatten(BDataIO* stream)
{
	if (stream == nullptr)
		return fInitStatus = B_BAD_VALUE;
	fInitStatus = fData->Unflatten(stream);
	return fInitStatus;
}


status_t BPicture::Flatten(BDataIO* stream) const
{
	if (stream == nullptr)
		return B_BAD_VALUE;
	return fData->Flatten(stream);
}


ssize_t BPicture::FlattenedSize() const
{
	return static_cast<ssize_t>(fData->FlattenedSize());
}


const PictureData* BPicture::Data() const
{
	return fData;
}


void BPicture::AdoptData(PictureData&& data)
{
	*fData = std::move(data);
	fInitStatus = B_OK;
}
