#include <SupportDefs.h>

#include <cerrno>
#include <chrono>
#include <cstring>

int status_from_errno(int error)
{
	switch (error) {
		case 0: return B_OK;
		case ENOMEM: return B_NO_MEMORY;
		case EIO: return B_IO_ERROR;
		case EACCES:
		case EPERM: return B_PERMISSION_DENIED;
		case EINVAL: return B_BAD_VALUE;
		case ETIMEDOUT: return B_TIMED_OUT;
		case EINTR: return B_INTERRUPTED;
		case EAGAIN: return B_WOULD_BLOCK;
		case EBUSY: return B_BUSY;
		case EEXIST: return B_FILE_EXISTS;
		case ENOENT: return B_ENTRY_NOT_FOUND;
		case ENAMETOOLONG: return B_NAME_TOO_LONG;
		case ENOTDIR: return B_NOT_A_DIRECTORY;
		case ENOTEMPTY: return B_DIRECTORY_NOT_EMPTY;
		case ENOSPC: return B_DEVICE_FULL;
		case EROFS: return B_READ_ONLY_DEVICE;
		case EISDIR: return B_IS_A_DIRECTORY;
		case EMFILE:
		case ENFILE: return B_NO_MORE_FDS;
		case EXDEV: return B_CROSS_DEVICE_LINK;
		case ELOOP: return B_LINK_LIMIT;
		case EPIPE: return B_BUSTED_PIPE;
		case ENOTSUP: return B_UNSUPPORTED;
		case ENODATA: return B_ENTRY_NOT_FOUND;
		case EBADF: return B_FILE_ERROR;
		default: return B_FROM_POSIX_ERROR(error);
	}
}

const char* strerror_be(int status)
{
	switch (status) {
		case B_OK: return "No error";
		case B_ERROR: return "General error";
		case B_NO_MEMORY: return "Out of memory";
		case B_IO_ERROR: return "I/O error";
		case B_PERMISSION_DENIED: return "Permission denied";
		case B_BAD_INDEX: return "Index not in range for the data set";
		case B_BAD_TYPE: return "Bad argument type passed to function";
		case B_BAD_VALUE: return "Invalid argument";
		case B_MISMATCHED_VALUES: return "Mismatched values passed to function";
		case B_NAME_NOT_FOUND: return "Name not found";
		case B_NAME_IN_USE: return "Name in use";
		case B_TIMED_OUT: return "Operation timed out";
		case B_INTERRUPTED: return "Interrupted system call";
		case B_WOULD_BLOCK: return "Operation would block";
		case B_CANCELED: return "Operation canceled";
		case B_NO_INIT: return "Initialization failed";
		case B_BUSY: return "Device/File/Resource busy";
		case B_NOT_ALLOWED: return "Operation not allowed";
		case B_BAD_DATA: return "Bad data";
		case B_BAD_THREAD_ID: return "Invalid thread_id";
		case B_BAD_IMAGE_ID: return "Bad image_id";
		case B_NOT_AN_EXECUTABLE: return "Not an executable";
		case B_MISSING_LIBRARY: return "Missing library";
		case B_MISSING_SYMBOL: return "Symbol not found";
		case B_NOT_A_MESSAGE: return "Data is not a message";
		case B_BAD_HANDLER: return "Bad handler";
		case B_FILE_ERROR: return "Bad file descriptor";
		case B_FILE_EXISTS: return "File or Directory already exists";
		case B_ENTRY_NOT_FOUND: return "No such file or directory";
		case B_NAME_TOO_LONG: return "File or Directory name too long";
		case B_NOT_A_DIRECTORY: return "Not a directory";
		case B_DIRECTORY_NOT_EMPTY: return "Directory not empty";
		case B_DEVICE_FULL: return "No space left on device";
		case B_READ_ONLY_DEVICE: return "Read-only file system";
		case B_IS_A_DIRECTORY: return "Is a directory";
		case B_NO_MORE_FDS: return "Too many open files";
		case B_CROSS_DEVICE_LINK: return "Cross-device link";
		case B_LINK_LIMIT: return "Too many symbolic links";
		case B_BUSTED_PIPE: return "Broken pipe";
		case B_UNSUPPORTED: return "Operation not supported";
		default: break;
	}
	if (status > B_POSIX_ERROR_BASE && status < B_POSIX_ERROR_BASE + 0x1000)
		return strerror(status - B_POSIX_ERROR_BASE);
	return "Unknown error";
}

bigtime_t system_time()
{
	using namespace std::chrono;
	return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
