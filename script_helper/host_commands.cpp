// Every command text the script sends to the host is built here.
#include "vesk_script_helper.h"

#include "debug_output.h"
#include "decode_vesk_string.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Room for the longest numeric command: "RR" with three 11-character numbers
// and " 'ADD'" is 44 characters, so no command is ever cut short.
enum { numericCommandCapacity = 48 };


// The standard text-to-integer reading of a reply token, kept within 32 bits.
int tokenToInt(const char* token) {
    long value = strtol(token, 0, 10);
    if (value > 2147483647L)
        return 2147483647;
    if (value < -2147483647L - 1)
        return -2147483647 - 1;
    return static_cast<int>(value);
}

} // namespace

void* vesk_script_helper::send(const char* command) {
    if (host == 0)
        return 0;
    return host->callback(const_cast<char*>(command), vesk_command);
}

void vesk_script_helper::handBack(void* reply) { host->callback(reply, vesk_hand_back); }

bool vesk_script_helper::panelShow(const vesk_string& panel, const vesk_string& layoutFile,
                                   const vesk_string& third) {
    vesk_string path = scriptPath.length() == 0 ? layoutFile : scriptPath + "/" + layoutFile;
    vesk_string command = "PS '" + panel + "' '" + path + "'";
    if (third.length() != 0)
        command += " '" + third + "'";
    if (host == 0)
        return true;
    return send(command) != 0;
}

void vesk_script_helper::textPut(const vesk_string& property, const vesk_string& value,
                                 const vesk_string& panel, const vesk_string& control) {
    send("TP '" + property + "=" + value + "' '" + panel + "' '" + control + "'");
}

void vesk_script_helper::textPut(const vesk_string& propertyAndValue, const vesk_string& panel,
                                 const vesk_string& control) {
    send("TP '" + propertyAndValue + "' '" + panel + "' '" + control + "'");
}

void vesk_script_helper::textGet(const vesk_string& property, const vesk_string& panel,
                                 const vesk_string& control, vesk_string& result) {
    vesk_string command = "TG '" + panel + "' '" + control + "' '" + property + "'";
    result = "";
    void* reply = send(command);
    if (reply == 0)
        return;
    vesk_string whole(static_cast<const char*>(reply));
    handBack(reply);
    if (property == "all") {
        result = whole;
        return;
    }
    vesk_string name;
    vesk_string value;
    whole.split('=', name, value);
    if (strcmp(name, property) == 0) {
        result = value;
        return;
    }
    vesk_string none;
    debug("textGet: value returned \"%1\" was not the value requested \"%2\" (value returned "
          "was \"%3\" from control \"%4\", on panel \"%5\")",
          name, property, whole, control, panel, none, none, none, none);
}

void vesk_script_helper::controlEnable(const vesk_string& panel, const vesk_string& control) {
    send("CE '" + panel + "' '" + control + "'");
}

void vesk_script_helper::controlDisable(const vesk_string& panel, const vesk_string& control) {
    send("CD '" + panel + "' '" + control + "'");
}

bool vesk_script_helper::getDev(vesk_string instrument, int* first, int* second) {
    if (first != 0)
        *first = 0;
    if (second != 0)
        *second = 0;
    if (host == 0)
        return false;
    void* reply = send(vesk_string("SD '%1'").arg(instrument));
    if (reply == 0)
        return false;
    decodeVESKString decoded(static_cast<const char*>(reply), '\'');
    if (first != 0)
        *first = tokenToInt(decoded.tokens[0]);
    if (second != 0)
        *second = tokenToInt(decoded.tokens[1]);
    handBack(reply);
    return true;
}

vesk_stringlist vesk_script_helper::getIdList(const vesk_string& panel,
                                              const vesk_string& prefix) {
    vesk_string command = vesk_string("XI '%1' '%2'").arg(panel).arg(prefix);
    if (host == 0)
        return vesk_stringlist();
    void* reply = send(command);
    if (reply == 0)
        return vesk_stringlist();
    vesk_string ids(static_cast<const char*>(reply));
    vesk_stringlist list(ids, ',');
    handBack(reply);
    return list;
}

void vesk_script_helper::routerCrosspoint(int device, int source, int destination,
                                          const vesk_string& extra, bool flag) {
    send(vesk_string("RC %1 %2 %3 ',%4' %5")
             .arg(device, 0, 0, 10)
             .arg(source, 0, 0, 10)
             .arg(destination, 0, 0, 10)
             .arg(extra)
             .arg(flag ? 1 : 0, 0, 0, 10));
}

void vesk_script_helper::routerRegister(int device, int first, int last, bool add) {
    char command[numericCommandCapacity];
    snprintf(command, sizeof command, add ? "RR %d %d %d 'ADD'" : "RR %d %d %d", device, first,
             last);
    send(command);
}

void vesk_script_helper::routerPoll(int device, int first, int last) {
    char command[numericCommandCapacity];
    snprintf(command, sizeof command, "RP %d %d %d", device, first, last);
    send(command);
}

void vesk_script_helper::routerUnregister(int device) {
    char command[numericCommandCapacity];
    snprintf(command, sizeof command, "RU %d", device);
    send(command);
}

void vesk_script_helper::timerStart(int timerId, int period) {
    char command[numericCommandCapacity];
    if (period != 0)
        snprintf(command, sizeof command, "ET %d %d", timerId, period);
    else
        snprintf(command, sizeof command, "ET %d", timerId);
    send(command);
}

void vesk_script_helper::timerStop(int timerId) {
    char command[numericCommandCapacity];
    snprintf(command, sizeof command, "ET %d", timerId);
    send(command);
}

void vesk_script_helper::debug(const vesk_string& format, const vesk_string& a1,
                               const vesk_string& a2, const vesk_string& a3,
                               const vesk_string& a4, const vesk_string& a5,
                               const vesk_string& a6, const vesk_string& a7,
                               const vesk_string& a8, const vesk_string& a9) {
    vesk_string line = format.arg(a1).arg(a2).arg(a3).arg(a4).arg(a5).arg(a6).arg(a7).arg(a8).arg(a9);
    writeDebugOutput(line);
}
