#pragma once
#include "link/MeterState.h"
#include <QByteArray>

// The meter's version reply, e.g. "V,OV3A01234,1.02,2.10" and a carriage
// return: the letter V, the serial number (OV, model character, optional
// model letter, the rest), the boot-loader version and the firmware version.
namespace VersionReply {

// Only characters from ',' to 'Z' reach the parser: carriage returns, line
// feeds, blanks, lower case and everything above 'Z' are dropped.
bool passesFilter(char c);

// Parses what was received (filtering it first). On a reply that begins with
// "V,OV" stores the identity in `meter` and returns true; otherwise changes
// nothing. Fields missing for want of commas keep their previous values.
bool parse(const QByteArray &received, MeterState &meter);

// Whether what came back to the version request is a boot loader's refusal
// ("FAIL" and line ends, nothing else): a meter waiting in its boot loader,
// not one in normal mode that was misheard.
bool isBootLoaderRefusal(const QByteArray &received);

}
