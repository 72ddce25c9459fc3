// A fresh temporary root folder for one test: TESSARY_ROOT points at it while the
// object lives, and the folder is removed afterwards.
#pragma once

#include <string>

class TempRoot {
public:
	TempRoot();
	~TempRoot();

	const std::string& Path() const { return fPath; }
	// A path below the root ("a/b" -> "<root>/a/b").
	std::string Sub(const std::string& relative) const { return fPath + "/" + relative; }

private:
	std::string fPath;
	std::string fPrevious;
	bool fHadPrevious;
};
