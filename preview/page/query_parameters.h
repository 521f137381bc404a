// A request's query read strictly from the request target as sent: every
// name known, each at most once unless it may repeat, values percent-decoded
// without a NUL byte among them. A value keeps every '=' after its name's;
// the readers of the values then refuse one where it does not belong.
#ifndef UMBREX_PREVIEW_QUERY_PARAMETERS_H
#define UMBREX_PREVIEW_QUERY_PARAMETERS_H

#include <map>
#include <string>
#include <vector>

class QueryParameters {
public:
    // Throws std::invalid_argument with one line naming the parameter at fault.
    QueryParameters(const std::string &target, const std::vector<std::string> &once,
                    const std::vector<std::string> &repeatable);

    bool has(const std::string &name) const { return values_.count(name) != 0; }
    // The value, or `otherwise` when the query does not give it.
    std::string value(const std::string &name, const std::string &otherwise = {}) const;
    // Every value of a repeatable name, in order.
    std::vector<std::string> values(const std::string &name) const;

private:
    std::map<std::string, std::vector<std::string>> values_;
};

#endif
