#include "PhoneClient.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

namespace localcloud {

namespace {

int usage()
{
    std::cerr << "usage: localcloud phone --url BASE --ca CA_PEM pair CODE\n"
                 "       localcloud phone --url BASE --ca CA_PEM send (--code CODE | --computer ID) FILE "
                 "[--name NAME]\n";
    return 2;
}

int report(const httplib::Result &result)
{
    if (!result) {
        std::cerr << "localcloud phone: request failed: " << httplib::to_string(result.error()) << '\n';
        return 1;
    }
    std::cout << result->body << std::endl;
    return result->status >= 200 && result->status < 300 ? 0 : 1;
}

} // namespace

int runPhoneCommand(const std::vector<std::string> &args)
{
    std::string url, ca, code, computer, name;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        std::optional<std::string> v;
        if (arg == "--url" || arg == "--ca" || arg == "--code" || arg == "--computer" || arg == "--name") {
            v = value();
            if (!v)
                return usage();
        }
        if (arg == "--url")
            url = *v;
        else if (arg == "--ca")
            ca = *v;
        else if (arg == "--code")
            code = *v;
        else if (arg == "--computer")
            computer = *v;
        else if (arg == "--name")
            name = *v;
        else
            positional.push_back(arg);
    }
    if (url.empty() || positional.empty())
        return usage();

    httplib::Client client(url);
    if (!ca.empty())
        client.set_ca_cert_path(ca.c_str());
    client.enable_server_certificate_verification(true);
    client.set_connection_timeout(10);
    client.set_read_timeout(60);

    if (positional[0] == "pair" && positional.size() == 2) {
        const nlohmann::json body = {{"code", positional[1]}};
        return report(client.Post("/_phone/pair", body.dump(), "application/json"));
    }
    if (positional[0] == "send" && positional.size() == 2 && (code.empty() != computer.empty())) {
        const std::string &path = positional[1];
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cerr << "localcloud phone: cannot read " << path << '\n';
            return 1;
        }
        std::stringstream bytes;
        bytes << in.rdbuf();
        if (name.empty()) {
            const size_t slash = path.find_last_of('/');
            name = slash == std::string::npos ? path : path.substr(slash + 1);
        }
        httplib::Params params{{"name", name}};
        if (!code.empty())
            params.emplace("code", code);
        else
            params.emplace("computerId", computer);
        return report(client.Post(httplib::append_query_params("/_phone/documents", params), bytes.str(),
            "application/octet-stream"));
    }
    return usage();
}

} // namespace localcloud
