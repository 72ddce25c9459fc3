#include <image.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct ImageRegistry {
	std::mutex lock;
	std::map<image_id, void*> handles;
	image_id lastId = 0;
};

ImageRegistry& image_registry()
{
	// Never destroyed: add-ons may be unloaded from other static destructors.
	static ImageRegistry* registry = new ImageRegistry;
	return *registry;
}

// Tells a file that is not there or not an ELF object from one that dlopen rejects for
// what it needs.
status_t check_file(const char* path)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return status_from_errno(errno);
	unsigned char magic[SELFMAG];
	ssize_t count = read(fd, magic, sizeof(magic));
	close(fd);
	if (count != SELFMAG || memcmp(magic, ELFMAG, SELFMAG) != 0)
		return B_NOT_AN_EXECUTABLE;
	return B_OK;
}

status_t status_from_dlerror(const char* message)
{
	if (message == nullptr)
		return B_ERROR;
	if (strstr(message, "undefined symbol") != nullptr)
		return B_MISSING_SYMBOL;
	if (strstr(message, "cannot open shared object file") != nullptr)
		return B_MISSING_LIBRARY;
	if (strstr(message, "invalid ELF header") != nullptr
		|| strstr(message, "wrong ELF class") != nullptr)
		return B_NOT_AN_EXECUTABLE;
	return B_ERROR;
}

void* handle_of(image_id image)
{
	ImageRegistry& registry = image_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	auto found = registry.handles.find(image);
	return found == registry.handles.end() ? nullptr : found->second;
}

}  // namespace

image_id load_add_on(const char* path)
{
	if (path == nullptr || path[0] == '\0')
		return B_BAD_VALUE;
	// dlopen searches the library path for a bare name; an add-on path never means that.
	std::string file = strchr(path, '/') != nullptr ? std::string(path) : "./" + std::string(path);
	status_t status = check_file(file.c_str());
	if (status != B_OK)
		return status;

	void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
	if (handle == nullptr)
		return status_from_dlerror(dlerror());

	ImageRegistry& registry = image_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	if (registry.lastId == INT32_MAX) {
		dlclose(handle);
		return B_NO_MEMORY;
	}
	image_id image = ++registry.lastId;
	registry.handles[image] = handle;
	return image;
}

status_t unload_add_on(image_id image)
{
	void* handle;
	{
		ImageRegistry& registry = image_registry();
		std::lock_guard<std::mutex> guard(registry.lock);
		auto found = registry.handles.find(image);
		if (found == registry.handles.end())
			return B_BAD_IMAGE_ID;
		handle = found->second;
		registry.handles.erase(found);
	}
	// Outside the lock: the add-on's destructors may load or unload add-ons themselves.
	return dlclose(handle) == 0 ? B_OK : B_ERROR;
}

status_t get_image_symbol(image_id image, const char* name, int32 symbolType,
	void** location)
{
	if (location == nullptr)
		return B_BAD_VALUE;
	*location = nullptr;
	if (name == nullptr || (symbolType != B_SYMBOL_TYPE_DATA
		&& symbolType != B_SYMBOL_TYPE_TEXT && symbolType != B_SYMBOL_TYPE_ANY))
		return B_BAD_VALUE;
	void* handle = handle_of(image);
	if (handle == nullptr)
		return B_BAD_IMAGE_ID;

	void* address = dlsym(handle, name);
	if (address == nullptr)
		return B_MISSING_SYMBOL;

	// dlsym also searches the libraries the add-on links; the platform looks only in the
	// image itself.
	struct link_map* imageMap = nullptr;
	struct link_map* symbolMap = nullptr;
	Dl_info info;
	if (dlinfo(handle, RTLD_DI_LINKMAP, &imageMap) != 0
		|| dladdr1(address, &info, reinterpret_cast<void**>(&symbolMap), RTLD_DL_LINKMAP) == 0
		|| symbolMap != imageMap)
		return B_MISSING_SYMBOL;

	if (symbolType != B_SYMBOL_TYPE_ANY) {
		void* symbolEntry = nullptr;
		// Only a symbol that starts exactly here says what this address is; an address
		// that falls inside some other symbol (a resolved indirect function) is let through.
		if (dladdr1(address, &info, &symbolEntry, RTLD_DL_SYMENT) != 0
			&& symbolEntry != nullptr && info.dli_saddr == address) {
			const ElfW(Sym)* symbol = static_cast<const ElfW(Sym)*>(symbolEntry);
			int kind = ELF64_ST_TYPE(symbol->st_info);
			bool isText = kind == STT_FUNC || kind == STT_GNU_IFUNC;
			bool isData = kind == STT_OBJECT || kind == STT_COMMON || kind == STT_TLS;
			if ((symbolType == B_SYMBOL_TYPE_TEXT && isData)
				|| (symbolType == B_SYMBOL_TYPE_DATA && isText))
				return B_MISSING_SYMBOL;
		}
	}
	*location = address;
	return B_OK;
}

int32 count_loaded_add_ons()
{
	ImageRegistry& registry = image_registry();
	std::lock_guard<std::mutex> guard(registry.lock);
	return static_cast<int32>(registry.handles.size());
}
