// The printer application's own "file" and "socket" devices, in place of PAPPL's.
//
// PAPPL opens a printer's device when a job starts and closes it when a job ends, and in 1.3.1
// it can start the next job before the last one has closed the device it shares: the new job
// would write through a device freed under it. So the device PAPPL opens of these schemes is a
// placeholder that connects to nothing, and every job opens a connection of its own
// (open_job_device), used by it alone and closed when it ends.
//
// Writes wait in short slices and give up when the device has taken nothing for the device
// timeout (60 seconds unless the server's `-o device-timeout` says otherwise; a printer that
// is slow but moving is never stopped), or at once when the job is cancelled: PAPPL's own
// writes wait for ever on a printer that stops reading.
//
// file:///PATH writes to a regular file (appended), a character device or a FIFO, or, for a
// folder, to a new file per job named after it (NAME.prn); socket://HOST[:PORT] connects to a
// raw TCP port (9100 by default).
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace printer_app {

// Registers the schemes; before PAPPL registers its own, which then stay unused.
void add_device_schemes();

// Seconds without progress after which a device write gives up.
void set_device_timeout(int seconds);

// Whether a job opens its own connection for the device URI (a scheme of ours).
bool has_job_device(const char* uri);

// Opens the job's own connection to the device `uri`; nullptr with the reason.
pappl_device_t* open_job_device(const char* uri, const char* jobName, std::string* error);

// Writes all of `size` bytes to the device: false with the reason ("the printer stopped
// taking data") when it took them not.
bool write_to_device(pappl_device_t* device, const void* buffer, size_t size,
	std::string* error);

// Makes the device's write in hand, and every later one, fail at once (the job using it was
// cancelled). Nothing for a device of another scheme.
void abandon_device(pappl_device_t* device);

}  // namespace printer_app
