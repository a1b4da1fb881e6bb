// The component parameters the host can set and query.
#include "PELDAN.h"

vesk_string PELDAN::parameterCallback(messageView& message) {
    return parameterReply(message.name(), message.value());
}

vesk_string PELDAN::parameterReply(const vesk_string& name, const vesk_string& value) {
    if (name == "return") {
        if (value == "all")
            return (vesk_stringlist() << vesk_string("myParam=%1").arg(myParam)).toString('\n');
        if (value == "myParam")
            return vesk_string("%1=%2").arg(value).arg(myParam);
        return vesk_string();
    }
    if (name == "instance") {
        if (value != instanceName)
            instanceName = value;
        return vesk_string();
    }
    if (name == "myParam") {
        myParam = value;
        return vesk_string();
    }
    if (name == "_events")
        return (vesk_stringlist() << vesk_string("notify=*")).toString('\n');
    if (name == "_commands")
        return (vesk_stringlist() << vesk_string("myParam=[value]")).toString('\n');
    return vesk_string();
}
