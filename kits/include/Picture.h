// BPicture: a recorded sequence of drawing commands in the platform's flattened form.
//
// A BPicture owns one PictureData (the parsed container: sub-pictures and op bytes). It is
// filled either by Unflatten from a stream (a spool file, a memory buffer) or by BView's
// recording, which hands over what its PictureWriter produced. Copying a picture copies its
// data. A picture whose Unflatten failed is empty and draws nothing; InitCheck reports the
// failure. Not thread-safe: one thread uses a picture at a time.
#pragma once

#include <DataIO.h>
#include <SupportDefs.h>

class PictureData;

class BPicture {
public:
	BPicture();
	BPicture(const BPicture& other);
	BPicture& operator=(const BPicture& other);
	virtual ~BPicture();

	// B_OK, or the error of the last Unflatten.
	status_t InitCheck() const;

	// Reads one flattened picture (sub-pictures included) from the stream's current
	// position. On failure returns B_BAD_DATA (or the stream's error), and the picture is
	// left empty.
	status_t Unflatten(BDataIO* stream);
	status_t Flatten(BDataIO* stream) const;
	ssize_t FlattenedSize() const;

	// For the kit's own use (BView plays and records pictures through these). Data() is
	// never null; an empty picture has no ops.
	const PictureData* Data() const;
	void AdoptData(PictureData&& data);

private:
	PictureData* fData;
	status_t fInitStatus;
};
