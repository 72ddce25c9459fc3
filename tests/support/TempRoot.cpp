#include "support/TempRoot.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempRoot::TempRoot() : fHadPrevious(false)
{
	const char* previous = getenv("TESSARY_ROOT");
	if (previous != nullptr) {
		fHadPrevious = true;
		fPrevious = previous;
	}
	std::string pattern = std::filesystem::temp_directory_path().string() + "/tessary-test-XXXXXX";
	if (mkdtemp(pattern.data()) == nullptr)
		throw std::runtime_error("mkdtemp failed");
	fPath = pattern;
	setenv("TESSARY_ROOT", fPath.c_str(), 1);
}

TempRoot::~TempRoot()
{
	std::error_code ignored;
	std::filesystem::remove_all(fPath, ignored);
	if (fHadPrevious)
		setenv("TESSARY_ROOT", fPrevious.c_str(), 1);
	else
		unsetenv("TESSARY_ROOT");
}
