#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Helpers for the unicast DNS messages of the info query.

// The pieces a line-reading loop with the delimiter as line end yields: empty pieces between
// two delimiters are kept, nothing follows a final delimiter, the empty text gives none.
std::vector<std::string> splitString(const std::string& text, char delimiter);

// Writes the wire form of a dotted name (a length byte and the bytes of each part, then a zero
// byte) and returns the bytes written: at most the text's length plus two.
unsigned encodeDnsName(const std::string& text, unsigned char* out);

// True when the dotted name makes a valid name on the wire: parts of 1 to 63 bytes, 255 bytes
// at most in all. A final dot is allowed.
bool isEncodableDnsName(const std::string& text);

// Reads a possibly compressed name at *position; on success *position is just past the name as
// it stands in place (past the first pointer when one was followed).
bool readName(const unsigned char* message, size_t length, unsigned* position, std::string& out);

// A standard query (recursion desired) with one PTR question of class IN for the type; empty
// when the type cannot be encoded.
std::vector<unsigned char> encodePtrQuery(uint16_t id, const std::string& serviceType);
