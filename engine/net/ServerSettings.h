// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/ServerDescription.h"

namespace veltrane {

/// The group of the settings file that names servers. Each server is a set
/// of keys "NAME\\key" (as the viewer's settings store "NAME/key"):
///   address     HOST:PORT/DATABASE (Z39.50) or http://... (SRU); required
///   sru         true: SRU over http://HOST:PORT/DATABASE
///   sru-method  get (default) or post
///   syntax      marc21 (default) or unimarc
///   charset     the set Z39.50 query terms go in: utf-8 (default), gbk, gb18030
///   user, password
///   schema      the SRU recordSchema (default marcxml)
///   isbn-index, issn-index, title-index, author-index, subject-index,
///   any-index   the CQL index of each kind of query
///   untested    true for a preset nobody has tried against the server
inline constexpr std::string_view kServersGroup = "Servers";

/// A named server and whether it is an untested preset.
struct NamedServer {
    ServerDescription server;
    bool untested = false;
};

/// The servers a settings text names, in the order they first appear, and
/// what in it could not be read (a server without an address, a value that
/// makes no sense), told with `origin` and the line.
struct NamedServers {
    std::vector<NamedServer> servers;
    std::vector<std::string> problems;

    [[nodiscard]] const NamedServer* find(std::string_view name) const;
};

/// Reads the servers group of an INI text as the viewer's settings write it
/// (quoted values, backslash escapes, \\xHHHH characters, %XX in keys).
[[nodiscard]] NamedServers ReadNamedServers(std::string_view iniText, std::string_view origin);

/// Reads a settings file; no servers (and no problem) when it does not exist.
[[nodiscard]] NamedServers ReadNamedServersFile(const std::string& path);

/// The viewer's settings file: $XDG_CONFIG_HOME/Veltrane/veltrane.conf, else
/// ~/.config/Veltrane/veltrane.conf; empty when neither variable is set.
[[nodiscard]] std::string SettingsFilePath();

}  // namespace veltrane
