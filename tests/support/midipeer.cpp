// SPDX-License-Identifier: MIT
// A second JACK MIDI client for tests and benchmarks, on RtMidi like the product.
//
//   midipeer send NAME [--notes N --interval-us U]
//     opens a virtual output NAME (client NAME), prints "ready", then sends each hex
//     line read from stdin ("90 3c 64") until EOF; with --notes, sends N Note Ons
//     instead (note = i % 128, velocity = 1 + i / 128 % 127) and prints
//     "<hex> <steady-clock ns>" for each.
//   midipeer listen PATTERN
//     waits (10 s at most) for an output port whose name contains PATTERN, connects
//     to it, prints "ready", then one hex line per message until stdin closes.
#include <RtMidi.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string hex(const std::vector<unsigned char> &bytes)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02x" : "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

std::vector<unsigned char> parseHex(const std::string &line)
{
    std::vector<unsigned char> bytes;
    std::string digits;
    for (char c : line)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int send(const std::string &name, int notes, int intervalUs)
{
    RtMidiOut out(RtMidi::UNIX_JACK, name);
    out.openVirtualPort(name);
    std::cout << "ready" << std::endl;
    if (notes > 0) {
        for (int i = 0; i < notes; ++i) {
            const std::vector<unsigned char> msg{0x90, static_cast<unsigned char>(i % 128),
                                                 static_cast<unsigned char>(1 + i / 128 % 127)};
            const long long t = nowNs();
            out.sendMessage(&msg);
            std::cout << hex(msg) << ' ' << t << '\n';
            std::this_thread::sleep_for(std::chrono::microseconds(intervalUs));
        }
        std::cout.flush();
        std::string line;
        std::getline(std::cin, line); // stay until told, so the last notes are delivered
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::vector<unsigned char> msg = parseHex(line);
        if (!msg.empty())
            out.sendMessage(&msg);
    }
    return 0;
}

void printMessage(double, std::vector<unsigned char> *message, void *)
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
            std::string line;
            while (std::getline(std::cin, line)) {
            }
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
            for (size_t i = 2; i + 1 < args.size(); i += 2) {
                if (args[i] == "--notes")
                    notes = std::stoi(args[i + 1]);
                else if (args[i] == "--interval-us")
                    intervalUs = std::stoi(args[i + 1]);
            }
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
