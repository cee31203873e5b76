// SPDX-License-Identifier: MIT
// A second JACK MIDI client for tests and benchmarks, on RtMidi like the product. Both
// modes print "ready" once their port is up. "send" then sends each hex line read from
// stdin, or with --notes N timed Note Ons, each printed with its steady-clock ns; "listen"
// connects to the first output whose name contains PATTERN and prints what it hears.
#include <RtMidi.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Message = std::vector<unsigned char>;

std::string hex(const Message &bytes)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

int send(const std::string &name, int notes, int intervalUs)
{
    RtMidiOut out(RtMidi::UNIX_JACK, name);
    out.openVirtualPort(name);
    std::cout << "ready" << std::endl;
    for (int i = 0; i < notes; ++i) {
        const Message msg{0x90, static_cast<unsigned char>(i % 128),
                          static_cast<unsigned char>(1 + i / 128 % 127)};
        const auto t = std::chrono::steady_clock::now().time_since_epoch();
        out.sendMessage(&msg);
        std::cout << hex(msg) << ' ' << std::chrono::nanoseconds(t).count() << '\n';
        std::this_thread::sleep_for(std::chrono::microseconds(intervalUs));
    }
    std::cout.flush();
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream text(line);
        Message msg;
        for (unsigned byte; text >> std::hex >> byte;)
            msg.push_back(static_cast<unsigned char>(byte));
        if (!msg.empty()) // with --notes, stdin only says when to go
            out.sendMessage(&msg);
    }
    return 0;
}

void printMessage(double, Message *message, void *)
{
    std::cout << hex(*message) << std::endl;
}

int listen(const std::string &pattern)
{
    RtMidiIn in(RtMidi::UNIX_JACK, "midipeer");
    in.ignoreTypes(false, false, false);
    for (int attempt = 0; attempt < 200; ++attempt) {
        for (unsigned i = 0; i < in.getPortCount(); ++i) {
            if (in.getPortName(i).find(pattern) == std::string::npos)
                continue;
            in.setCallback(&printMessage);
            in.openPort(i, "in");
            std::cout << "ready" << std::endl;
            std::cin.ignore(std::numeric_limits<std::streamsize>::max()); // until EOF
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::cerr << "midipeer: no port matching " << pattern << std::endl;
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() >= 2 && args[0] == "send") {
            int notes = 0;
            int intervalUs = 1000;
            for (size_t i = 2; i + 1 < args.size(); i += 2)
                (args[i] == "--notes" ? notes : intervalUs) = std::stoi(args[i + 1]);
            return send(args[1], notes, intervalUs);
        }
        if (args.size() == 2 && args[0] == "listen")
            return listen(args[1]);
    } catch (const RtMidiError &error) {
        std::cerr << "midipeer: " << error.getMessage() << std::endl;
        return 1;
    }
    std::cerr << "usage: midipeer send NAME [--notes N --interval-us U] | listen PATTERN\n";
    return 64;
}
