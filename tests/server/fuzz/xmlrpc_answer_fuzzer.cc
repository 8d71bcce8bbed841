// libFuzzer target over the XML-RPC answer as the client takes it: the
// checks that keep declarations and NUL bytes from the XML parser, the
// parse into a response, and the reading of a result struct's members.
// Nothing may crash, hang or leak; a body the checks refuse is never
// parsed. Built and run by scripts/fuzz-all.sh; not part of the test run.
#include <xmlrpc-c/base.hpp>
#include <xmlrpc-c/xml.hpp>

#include <cstdint>
#include <string>

#include "server/xmlrpc_call.h"
#include "server/xmlrpc_transport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  if (!kiv_rpc::AnswerRefusal(body).empty()) return 0;
  try {
    xmlrpc_c::rpcOutcome outcome;
    xmlrpc_c::xml::parseResponse(body, &outcome);
    if (!outcome.succeeded()) return 0;
    const kiv_rpc::ResultStruct result(outcome.getResult());
    for (const char* name : {"result", "kiv_id", "message", "batch_size"}) {
      result.Int(name);
      result.String(name);
    }
  } catch (const std::exception&) {
    // A damaged answer is an exception at the call, which reports it.
  }
  return 0;
}
