// What the user is told when the server cannot listen: the address and port
// it tried, the system's reason and, where the port needs a privilege, how to
// give it.
#pragma once

#include "server/engine/engine_failure.h"
#include "server/engine/listen_socket.h"

#include <string>

// The words for what the listener could not do: "Unable to Create listening
// port", "Unable to Select local port mode"; null when it has said nothing
// (no failure, or the address choice that ended it has spoken).
const char* ListenFailureWords(ListenFailure failure);

// The words for what a transfer could not do.
const char* EngineFailureText(EngineFailure failure);

// The port a Port setting text asks for: its leading digits, 69 when none.
int ListeningPort(const std::string& portText);

// "Unable to listen on 127.0.0.1 port 69: Permission denied", followed for a
// port below 1024 that was refused for want of privilege by the two remedies
// (the capability for program, or a port from 1024 up). error is the
// socket's errno (0: none known).
std::string ListenFailureText(const std::string& address, int port, int error, const std::string& program);
