#pragma once

#include <QObject>

// A field of an object QML shows: each field is a property whose change signal is the field's
// name followed by "Changed"; a write notifies only when the value really changes.
#define KIVO_MODEL_PROPERTY(Type, name, setter)                                                              \
    Q_PROPERTY(Type name READ name WRITE setter NOTIFY name##Changed)                                        \
public:                                                                                                      \
    Type name() const                                                                                        \
    {                                                                                                        \
        return m_##name;                                                                                     \
    }                                                                                                        \
    void setter(const Type &value)                                                                           \
    {                                                                                                        \
        if (m_##name == value)                                                                               \
            return;                                                                                          \
        m_##name = value;                                                                                    \
        emit name##Changed();                                                                                \
    }                                                                                                        \
    Q_SIGNAL void name##Changed();                                                                           \
                                                                                                             \
private:                                                                                                     \
    Type m_##name{};
