// Transport add-ons for the hook tests. One source, several builds:
//   TEST_TRANSPORT_RECORDER   a full transport: logs each call and keeps the bytes
//   TEST_TRANSPORT_NULL       init_transport gives no stream
//   TEST_TRANSPORT_NO_EXIT    exports init_transport only
//   TEST_TRANSPORT_DATA_INIT  exports init_transport as data, not code
// The log goes to the file named by TESSARY_TEST_LOG, one line per event, the bytes to
// TESSARY_TEST_OUTPUT.

#include <DataIO.h>
#include <Message.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void log_line(const std::string& line)
{
	const char* path = getenv("TESSARY_TEST_LOG");
	if (path == nullptr)
		return;
	FILE* file = fopen(path, "a");
	if (file == nullptr)
		return;
	fprintf(file, "%s\n", line.c_str());
	fclose(file);
}

class RecordingStream : public BDataIO {
public:
	ssize_t Write(const void* buffer, size_t size) override
	{
		log_line("write " + std::to_string(size));
		const char* path = getenv("TESSARY_TEST_OUTPUT");
		if (path != nullptr && size > 0) {
			FILE* file = fopen(path, "ab");
			if (file != nullptr) {
				fwrite(buffer, 1, size, file);
				fclose(file);
			}
		}
		return static_cast<ssize_t>(size);
	}
};

RecordingStream* sStream = nullptr;

std::string describe_open_message(BMessage* message)
{
	const char* path = "(none)";
	message->FindString("printer_file", &path);
	char what[5] = {static_cast<char>(message->what >> 24), static_cast<char>(message->what >> 16),
		static_cast<char>(message->what >> 8), static_cast<char>(message->what), 0};
	return std::string("init what=") + what + " fields=" + std::to_string(message->CountNames(B_ANY_TYPE))
		+ " printer_file=" + path;
}

}  // namespace

#if defined(TEST_TRANSPORT_DATA_INIT)
EXPORT int init_transport = 0;
#else
EXPORT BDataIO* init_transport(BMessage* message, BMessage* second)
{
	log_line(describe_open_message(message) + " second=" + std::to_string(second->CountNames(B_ANY_TYPE)));
#if defined(TEST_TRANSPORT_NULL)
	return nullptr;
#else
	sStream = new RecordingStream;
	return sStream;
#endif
}
#endif

#if !defined(TEST_TRANSPORT_NO_EXIT)
EXPORT void exit_transport()
{
	log_line("exit");
	delete sStream;
	sStream = nullptr;
}
#endif
