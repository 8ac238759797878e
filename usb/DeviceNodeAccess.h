#pragma once

#include <QString>

// Whether this user may open a device node for reading and writing, and if
// not, what was refused, in words the operator can act on. Nodes are listed
// by the system whether or not the user may open them: one that is there but
// refused must be told apart from one that is not there.
class DeviceNodeAccess
{
public:
    // Null when the node may be opened, or when it is not there (opening it
    // then says why). Otherwise what was refused and the node's owner, group
    // and mode: "read and write access refused (owner root, group dialout,
    // mode crw-rw----)".
    static QString refusal(const QString &node);
    // What the operator does about a refused player.
    static QString advice();
};
