// Ports of 127.0.0.1 for the servers a test starts.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Binds the socket `fd` to a free port of 127.0.0.1 and gives the port (0 when it cannot).
inline int bind_loopback(int fd)
{
	sockaddr_in address = {};
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t length = sizeof(address);
	if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0
		|| getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
		return 0;
	return ntohs(address.sin_port);
}

// A port that nobody listened on a moment ago: for a server a test starts, or for a
// connection that must be refused.
inline int free_loopback_port()
{
	int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in address = {};
	address.sin_family = AF_INET;
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
	socklen_t length = sizeof(address);
	getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
	close(probe);
	return ntohs(address.sin_port);
}
