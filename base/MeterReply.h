#pragma once

// How the meter answered what was just written to it.
enum class MeterReply {
    Accepted,  // the reply held "PASS"
    Refused,   // the meter said something without "PASS" (with or without its CR)
    NoAnswer,  // not one byte came back in time
};
