// SPDX-License-Identifier: Apache-2.0
// A Z39.50 server of the fetch suite on libyaz's generic frontend server:
// it serves the ISO 2709 records of the file named by VELTRANE_FIXTURE_RECORDS
// (GBK CNMARC) as UNIMARC, and takes query terms as the records' own bytes,
// as a server whose set is GBK does. A record is a hit when it holds the
// bytes of every term of the query. Not installed.
#include <yaz/backend.h>
#include <yaz/oid_std.h>
#include <yaz/proto.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_records;

struct Session {
    std::vector<std::size_t> hits;
};

void collectTerms(const Z_RPNStructure* structure, std::vector<std::string>& terms)
{
    if (structure->which == Z_RPNStructure_complex) {
        collectTerms(structure->u.complex->s1, terms);
        collectTerms(structure->u.complex->s2, terms);
        return;
    }
    const Z_Operand* operand = structure->u.simple;
    if (operand->which != Z_Operand_APT)
        return;
    const Z_Term* term = operand->u.attributesPlusTerm->term;
    if (term->which == Z_Term_general)
        terms.emplace_back(reinterpret_cast<const char*>(term->u.general->buf),
                           static_cast<std::size_t>(term->u.general->len));
    else if (term->which == Z_Term_characterString)
        terms.emplace_back(term->u.characterString);
}

int search(void* handle, bend_search_rr* rr)
{
    auto* session = static_cast<Session*>(handle);
    session->hits.clear();
    if (rr->query->which != Z_Query_type_1 && rr->query->which != Z_Query_type_101) {
        rr->errcode = 107;  // query type not supported
        return 0;
    }
    std::vector<std::string> terms;
    collectTerms(rr->query->u.type_1->RPNStructure, terms);
    for (std::size_t i = 0; i < g_records.size(); ++i) {
        bool all = !terms.empty();
        for (const std::string& term : terms)
            all = all && g_records[i].find(term) != std::string::npos;
        if (all)
            session->hits.push_back(i);
    }
    rr->hits = static_cast<Odr_int>(session->hits.size());
    return 0;
}

int fetch(void* handle, bend_fetch_rr* rr)
{
    auto* session = static_cast<Session*>(handle);
    if (rr->number < 1 || static_cast<std::size_t>(rr->number) > session->hits.size()) {
        rr->errcode = 13;  // present request out of range
        return 0;
    }
    const std::string& record = g_records[session->hits[static_cast<std::size_t>(rr->number) - 1]];
    rr->record = static_cast<char*>(odr_malloc(rr->stream, record.size()));
    std::memcpy(rr->record, record.data(), record.size());
    rr->len = static_cast<int>(record.size());
    rr->output_format = odr_oiddup(rr->stream, yaz_oid_recsyn_unimarc);
    rr->basename = odr_strdup(rr->stream, "Default");
    rr->last_in_set = static_cast<std::size_t>(rr->number) == session->hits.size();
    return 0;
}

bend_initresult* init(bend_initrequest* request)
{
    auto* result = static_cast<bend_initresult*>(odr_malloc(request->stream, sizeof(bend_initresult)));
    result->errcode = 0;
    result->errstring = nullptr;
    result->handle = new Session;
    request->bend_search = search;
    request->bend_fetch = fetch;
    return result;
}

void close(void* handle) { delete static_cast<Session*>(handle); }

}  // namespace

int main(int argc, char** argv)
{
    const char* path = std::getenv("VELTRANE_FIXTURE_RECORDS");
    std::ifstream file(path != nullptr ? path : "", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = all.find('\x1d', at);
        const std::size_t next = end == std::string::npos ? all.size() : end + 1;
        g_records.push_back(all.substr(at, next - at));
        at = next;
    }
    return statserv_main(argc, argv, init, close);
}
