#include "host/json_host.hpp"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/dispatch.hpp"

namespace zav {
namespace {

TEST(JsonHost, AnswersRequestsInOrder) {
  struct Case {
    const char* request;
    const char* answer;
  } cases[] = {
      {R"({"call":"ValidaArchivo","args":[16383]})",
       R"({"ok":true,"result":32766,"args":[16383]})"},
      {R"({"call":"validaarchivo","args":[16384]})",
       R"({"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"call":"ValidaArchivo","args":[-16384]})",
       R"({"ok":true,"result":-32768,"args":[-16384]})"},
      {R"({"call":"ValidaArchivo","args":[-16385]})",
       R"({"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"call":"ValidaNumero","args":[" 12",3]})",
       R"({"ok":true,"result":false,"args":["12",3]})"},
      {R"({"call":"Trunca","args":[2.345]})", R"({"ok":true,"result":2.35,"args":[2.345]})"},
      {R"({"put":"igToler","value":255})", R"({"ok":true,"result":null})"},
      {R"({"get":"igToler"})", R"({"ok":true,"result":255})"},
      {R"({"put":"igToler","value":256})",
       R"({"ok":false,"error":{"number":6,"description":"Overflow"}})"},
      {R"({"get":"igToler"})", R"({"ok":true,"result":255})"},
      {R"({"put":"sgFolioZAV","value":"00012ñ"})", R"({"ok":true,"result":null})"},
      {R"({"get":"sgFolioZAV"})", R"({"ok":true,"result":"00012ñ"})"},
      {R"({"put":"NumDiscos","value":"x"})",
       R"({"ok":false,"error":{"number":13,"description":"Type mismatch"}})"},
      {R"({"get":"SumaT18"})", R"({"ok":true,"result":null})"},
      {R"({"put":"sgBim","value":"6"})", R"({"ok":true,"result":null})"},
      {R"({"get":"sgBim"})", R"({"ok":true,"result":"6"})"},
      {R"({"call":"Nada","args":[]})",
       R"({"ok":false,"error":{"number":438,"description":"Object doesn't support this property or method"}})"},
      {R"({"call":"Trunca","args":[]})",
       R"({"ok":false,"error":{"number":450,"description":"Wrong number of arguments or invalid property assignment"}})"},
      {R"({"call":"Trunca","args":[[1]]})",
       R"({"ok":false,"error":{"number":13,"description":"Type mismatch: this host has no object references; a JSON array or object is not a value"}})"},
      {R"({"put":"gdatServerStarted","value":"07/03/2005"})", R"({"ok":true,"result":null})"},
      {R"({"get":"gdatServerStarted"})", R"({"ok":true,"result":38418.0})"},
      {R"({"put":"Trunca","value":1})",
       R"({"ok":false,"error":{"number":450,"description":"Wrong number of arguments or invalid property assignment"}})"},
      {R"({"put":"Sal","value":"x"})", R"({"ok":true,"result":null})"},
      {R"({"call":"Obtiene_Mensajes","args":[0]})",
       R"({"ok":true,"result":"\r\nFolio: 00012ñ","args":[0]})"},
      {R"({"get":"Sal"})", R"({"ok":true,"result":"\r\n"})"},
      {R"({"call":"Obtiene_Mensajes","args":[-1]})",
       R"({"ok":true,"result":"\r\nFolio: 00012ñ","args":[-1]})"},
      {R"({"call":"Obtiene_Mensajes","args":[9]})",
       R"({"ok":true,"result":"Error en RFC del sumario no coincide con el encabezado.\r\nFolio: )"
       R"(00012ñ","args":[9]})"},
      // The safety answers by name.
      {R"({"call":"GetInterfaceSafetyOptions","args":["{A6EF9860-C720-11D0-9337-00A0C90DCAA9}",0,0]})",
       R"({"ok":true,"result":0,"args":["{A6EF9860-C720-11D0-9337-00A0C90DCAA9}",3,1]})"},
      {R"({"call":"GetInterfaceSafetyOptions","args":[null,0,5]})",
       R"({"ok":true,"result":0,"args":[null,3,5]})"},
      {R"({"call":"GetInterfaceSafetyOptions","args":["{00000000-0000-0000-C000-000000000046}",0,5]})",
       R"({"ok":true,"result":2147500034,"args":["{00000000-0000-0000-C000-000000000046}",3,5]})"},
      {R"({"call":"SetInterfaceSafetyOptions","args":["{A6EF9860-C720-11D0-9337-00A0C90DCAA9}",3,3]})",
       R"({"ok":true,"result":2147500037,"args":["{A6EF9860-C720-11D0-9337-00A0C90DCAA9}",3,3]})"},
  };
  JsonHost host;
  for (const Case& c : cases) EXPECT_EQ(host.Handle(c.request), c.answer) << c.request;
}

// Every line gets one answer: a line that is not a request is error 5 in our own words.
TEST(JsonHost, RunAnswersEveryLine) {
  JsonHost host;
  std::istringstream in(
      "\n{\"get\":\"posicion\"}\r\nnot json\n[1]\n{\"x\":1}\n  \n{\"get\":\"FinalArchi\"}\n");
  std::ostringstream out;
  EXPECT_EQ(host.Run(in, out), 0);
  const std::string bad =
      R"({"ok":false,"error":{"number":5,"description":"Invalid procedure call )"
      R"(or argument: )";
  const std::vector<std::string> expected = {
      bad + R"(the line is empty; every line holds one request"}})",
      R"({"ok":true,"result":0})",
      bad + R"(the line is not JSON"}})",
      bad + R"(a request is a JSON object: {\"call\": NAME, \"args\": [...]}, {\"get\": NAME} )"
            R"(or {\"put\": NAME, \"value\": V}"}})",
      bad + R"(a request holds \"call\", \"get\" or \"put\""}})",
      bad + R"(the line is empty; every line holds one request"}})",
      R"({"ok":true,"result":""})",
  };
  std::istringstream lines(out.str());
  std::vector<std::string> answers;
  for (std::string l; std::getline(lines, l);) answers.push_back(l);
  EXPECT_EQ(answers, expected);
}

TEST(Dispatch, TableNamesEveryMemberOnce) {
  std::set<std::string> names;
  std::size_t methods = 0;
  for (const Member& m : Members()) {
    EXPECT_TRUE(names.insert(m.name).second) << m.name;
    if (m.kind != MemberKind::kProperty) ++methods;
  }
  EXPECT_EQ(methods, 28u);  // 25 methods and 3 read-only properties
}

}  // namespace
}  // namespace zav
