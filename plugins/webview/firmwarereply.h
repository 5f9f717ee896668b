#pragma once

#include <QByteArray>
#include <QString>

// One string field of the "response" object a recorder's firmware endpoints answer with, as in
// {"response": {"upload_name": "..."}}. Pure: the bytes of a reply body in, the value or what was
// wrong with the reply out.
struct FirmwareReply
{
    enum Outcome {
        Ok,
        NotJson, // not a JSON object, or larger than any real reply
        NoValue, // a JSON object without a usable value for the field
    };

    Outcome outcome = NotJson;
    QString value;
    QString error; // why the reply was not taken; empty when Ok

    // Replies are a few hundred bytes; anything far beyond is not a recorder's answer.
    static constexpr qsizetype kMaxBytes = 64 * 1024;

    static FirmwareReply parse(const QByteArray& body, const QString& field);
    // The update start reply's upload name. It becomes part of the upload path, so only a plain
    // file name is taken.
    static FirmwareReply parseUpdateStart(const QByteArray& body);
    // The firmware info reply's software version.
    static FirmwareReply parseFirmwareInfo(const QByteArray& body);
};
