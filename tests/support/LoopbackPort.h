// A port of 127.0.0.1 that nobody listened on a moment ago: for a server a test starts, or
// for a connection that must be refused.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
