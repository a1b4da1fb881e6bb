// One request as the server's handlers see it, and the answer they fill in.
// Both live on the server thread that handles the request, for that call only.
#ifndef HTTP_EXCHANGE_H
#define HTTP_EXCHANGE_H

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string path;                           // percent-decoded, without the query
    std::map<std::string, std::string> headers; // names in lower case
    std::set<std::string> repeatedHeaders;      // names sent more than once, in lower case
    std::map<std::string, std::string> query;
    std::string body;
    std::string address; // the client's

    std::optional<std::string> header(const std::string& lowerName) const {
        auto found = headers.find(lowerName);
        return found == headers.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::optional<std::string> parameter(const std::string& name) const {
        auto found = query.find(name);
        return found == query.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false; // the connection ends after this answer

    void set(int code, std::string type, std::string content) {
        status = code;
        contentType = std::move(type);
        body = std::move(content);
    }
};

#endif
