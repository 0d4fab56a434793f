// What the EXE tells Windows about itself, read from the built file as Windows
// reads it: the application manifest (resource type 24, number 1) through the
// resource API, parsed by MSXML, and the version resource through the version API.
#include "tests/caller/peimage.h"
#include "dvqversion.h"
#include <windows.h>
#include <msxml2.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> TTexts;

// IXMLDOMDocument2, which not every import library carries.
const IID DocumentInterface = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The text of every node that an XPath selects, in document order (ASCII).
TTexts Select(IXMLDOMDocument2 *document, const std::string &xpath)
{
    TTexts texts;
    IXMLDOMNodeList *nodes = NULL;
    IXMLDOMNode *node = NULL;
    BSTR query = SysAllocString(std::wstring(xpath.begin(), xpath.end()).c_str()), text = NULL;
    if (document->selectNodes(query, &nodes) == S_OK) {
        for (; nodes->nextNode(&node) == S_OK && node != NULL; node->Release(), SysFreeString(text)) {
            node->get_text(&text);
            texts.push_back(std::string(text, text + SysStringLen(text)));
        }
        nodes->Release();
    }
    SysFreeString(query);
    return texts;
}

TEST(ManifestTest, TheManifestAsksForElevationAndNamesTheSystemsAndControlsItIsMadeFor)
{
    HMODULE module = LoadLibraryExA(BesideThisProgram("DVQRMV32.EXE").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(resource, nullptr);
    std::string manifest((const char *)LockResource(LoadResource(module, resource)), SizeofResource(module, resource));
    FreeLibrary(module);

    ASSERT_EQ(CoInitialize(NULL), S_OK);
    CLSID documentClass;
    IXMLDOMDocument2 *document = NULL;
    ASSERT_EQ(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &documentClass), S_OK);
    ASSERT_EQ(CoCreateInstance(documentClass, NULL, CLSCTX_INPROC_SERVER, DocumentInterface, (void **)&document), S_OK);
    // Handed over as characters, the text (ASCII) without its UTF-8 declaration.
    std::string body = manifest.substr(manifest.find("<assembly"));
    BSTR text = SysAllocString(std::wstring(body.begin(), body.end()).c_str());
    VARIANT_BOOL parsed = VARIANT_FALSE;
    EXPECT_EQ(document->loadXML(text, &parsed), S_OK);
    SysFreeString(text);
    ASSERT_EQ(parsed, VARIANT_TRUE) << manifest;
    VARIANT namespaces;
    namespaces.vt = VT_BSTR;
    namespaces.bstrVal = SysAllocString(L"xmlns:a='urn:schemas-microsoft-com:asm.v1' "
                                        L"xmlns:v3='urn:schemas-microsoft-com:asm.v3' "
                                        L"xmlns:c='urn:schemas-microsoft-com:compatibility.v1' "
                                        L"xmlns:s5='http://schemas.microsoft.com/SMI/2005/WindowsSettings' "
                                        L"xmlns:s16='http://schemas.microsoft.com/SMI/2016/WindowsSettings'");
    BSTR property = SysAllocString(L"SelectionNamespaces");
    EXPECT_EQ(document->setProperty(property, namespaces), S_OK);
    SysFreeString(property);
    VariantClear(&namespaces);

    const std::string execution = "/a:assembly/v3:trustInfo/v3:security/v3:requestedPrivileges/"
                                  "v3:requestedExecutionLevel/@",
                      controls = "/a:assembly/a:dependency/a:dependentAssembly/a:assemblyIdentity/@",
                      settings = "/a:assembly/v3:application/v3:windowsSettings/";
    const std::pair<std::string, TTexts> cases[] = {
        {"/a:assembly/a:assemblyIdentity/@version", {std::string(DVQ_VERSION_TEXT) + ".0"}},
        {execution + "level", {"requireAdministrator"}},
        {execution + "uiAccess", {"false"}},
        // Windows Vista, 7, 8, 8.1, and 10 and 11.
        {"/a:assembly/c:compatibility/c:application/c:supportedOS/@Id",
         {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}},
        {settings + "s5:dpiAware", {"true/pm"}},
        {settings + "s16:dpiAwareness", {"PerMonitorV2, PerMonitor"}},
        {controls + "name", {"Microsoft.Windows.Common-Controls"}},
        {controls + "version", {"6.0.0.0"}},
        {controls + "publicKeyToken", {"6595b64144ccf1df"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Select(document, c.first), c.second) << c.first;
    document->Release();
    CoUninitialize();
}

TEST(ManifestTest, TheVersionResourceNamesTheProgramAndItsVersion)
{
    std::string exe = BesideThisProgram("DVQRMV32.EXE");
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    std::vector<char> info(size + 1);
    ASSERT_TRUE(size > 0 && GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
    const DWORD high = MAKELONG(DVQ_VERSION_MINOR, DVQ_VERSION_MAJOR), low = MAKELONG(0, DVQ_VERSION_PATCH);
    EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                                  fixed->dwProductVersionLS, fixed->dwFileType}),
              std::vector<DWORD>({high, low, high, low, (DWORD)VFT_APP}));
    // English (United States), Unicode: the one translation, whose strings follow.
    WORD *translation = NULL;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&translation, &length));
    EXPECT_EQ(std::vector<WORD>(translation, translation + length / sizeof(WORD)), (std::vector<WORD>{0x0409, 1200}));
    const std::pair<const char *, std::string> strings[] = {
        {"FileDescription", "Solvarine un-installer"}, {"ProductName", "Solvarine"},
        {"OriginalFilename", "DVQRMV32.EXE"},          {"FileVersion", DVQ_VERSION_TEXT},
        {"ProductVersion", DVQ_VERSION_TEXT},
    };
    for (const auto &s : strings) {
        char *value = NULL;
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + s.first;
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), (void **)&value, &length)) << s.first;
        EXPECT_EQ(std::string(value), s.second) << s.first;
    }
}

}  // namespace
