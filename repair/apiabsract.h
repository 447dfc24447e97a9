#pragma once

#include <QString>

// A web client that sends one request for an address text.
class ApiAbsract
{
public:
    virtual ~ApiAbsract() = default;
    // Sends one request for `address`, a fully encoded URL.
    virtual void sendRequest(const QString &address) = 0;
};
