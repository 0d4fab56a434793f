// What the EXE tells Windows about itself, read from the built file as Windows
// reads it: the application manifest (resource type 24, number 1) through the
// resource API, parsed by MSXML, and the version resource through the version API.
#include "tests/caller/peimage.h"
#include "dvqversion.h"
#include <windows.h>
#include <objbase.h>
#include <msxml2.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char Namespaces[] = "xmlns:a='urn:schemas-microsoft-com:asm.v1' xmlns:v3='urn:schemas-microsoft-com:asm.v3' "
                          "xmlns:c='urn:schemas-microsoft-com:compatibility.v1' "
                          "xmlns:s5='http://schemas.microsoft.com/SMI/2005/WindowsSettings' "
                          "xmlns:s16='http://schemas.microsoft.com/SMI/2016/WindowsSettings'";

std::wstring Wide(const std::string &text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size(), &wide[0], length);
    return wide;
}

std::string Narrow(const wchar_t *text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, NULL, NULL);
    out.resize(strlen(out.c_str()));
    return out;
}

// The manifest's bytes, as the loader finds them in the file.
std::string ReadManifest(const std::string &exe)
{
    HMODULE module = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module, nullptr) << exe;
    if (module == NULL)
        return "";
    std::string manifest;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL loaded = resource != NULL ? LoadResource(module, resource) : NULL;
    const char *bytes = loaded != NULL ? (const char *)LockResource(loaded) : NULL;
    if (bytes != NULL)
        manifest.assign(bytes, SizeofResource(module, resource));
    FreeLibrary(module);
    return manifest;
}

// The text of every node that an XPath selects, in document order.
std::vector<std::string> Select(IXMLDOMDocument2 *document, const char *xpath)
{
    std::vector<std::string> texts;
    IXMLDOMNodeList *nodes = NULL;
    BSTR query = SysAllocString(Wide(xpath).c_str());
    if (document->selectNodes(query, &nodes) == S_OK) {
        IXMLDOMNode *node = NULL;
        while (nodes->nextNode(&node) == S_OK && node != NULL) {
            BSTR text = NULL;
            node->get_text(&text);
            texts.push_back(text != NULL ? Narrow(text) : "");
            SysFreeString(text);
            node->Release();
        }
        nodes->Release();
    }
    SysFreeString(query);
    return texts;
}

typedef std::vector<std::string> TTexts;

// IXMLDOMDocument2, which not every import library carries.
const IID DocumentInterface = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

TEST(ManifestTest, TheManifestAsksForElevationAndNamesTheSystemsAndControlsItIsMadeFor)
{
    std::string manifest = ReadManifest(BesideThisProgram("DVQRMV32.EXE"));
    ASSERT_FALSE(manifest.empty());
    ASSERT_EQ(CoInitialize(NULL), S_OK);
    CLSID documentClass;
    ASSERT_EQ(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &documentClass), S_OK);
    IXMLDOMDocument2 *document = NULL;
    ASSERT_EQ(CoCreateInstance(documentClass, NULL, CLSCTX_INPROC_SERVER, DocumentInterface,
                               (void **)&document), S_OK);
    // The declaration names UTF-8; the text handed over is already characters.
    size_t start = manifest.find("<assembly");
    ASSERT_NE(start, std::string::npos);
    BSTR text = SysAllocString(Wide(manifest.substr(start)).c_str());
    VARIANT_BOOL parsed = VARIANT_FALSE;
    EXPECT_EQ(document->loadXML(text, &parsed), S_OK);
    SysFreeString(text);
    ASSERT_EQ(parsed, VARIANT_TRUE) << manifest;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(Wide(Namespaces).c_str());
    BSTR property = SysAllocString(L"SelectionNamespaces");
    EXPECT_EQ(document->setProperty(property, value), S_OK);
    SysFreeString(property);
    VariantClear(&value);

    const std::string version = std::string(DVQ_VERSION_TEXT) + ".0";
    const std::string execution =
        "/a:assembly/v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel";
    const std::string controls = "/a:assembly/a:dependency/a:dependentAssembly/a:assemblyIdentity";
    const std::string settings = "/a:assembly/v3:application/v3:windowsSettings/";
    const struct {
        std::string xpath;
        TTexts expected;
    } cases[] = {
        {"/a:assembly/@manifestVersion", {"1.0"}},
        {"/a:assembly/a:assemblyIdentity/@version", {version}},
        {execution + "/@level", {"requireAdministrator"}},
        {execution + "/@uiAccess", {"false"}},
        // Windows Vista, 7, 8, 8.1, and 10 and 11.
        {"/a:assembly/c:compatibility/c:application/c:supportedOS/@Id",
         {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}},
        {settings + "s5:dpiAware", {"true/pm"}},
        {settings + "s16:dpiAwareness", {"PerMonitorV2, PerMonitor"}},
        {controls + "/@name", {"Microsoft.Windows.Common-Controls"}},
        {controls + "/@version", {"6.0.0.0"}},
        {controls + "/@publicKeyToken", {"6595b64144ccf1df"}},
        {controls + "/@processorArchitecture", {"*"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Select(document, c.xpath.c_str()), c.expected) << c.xpath;
    document->Release();
    CoUninitialize();
}

TEST(ManifestTest, TheVersionResourceNamesTheProgramAndItsVersion)
{
    std::string exe = BesideThisProgram("DVQRMV32.EXE");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
    const DWORD versionMS = MAKELONG(DVQ_VERSION_MINOR, DVQ_VERSION_MAJOR), versionLS = MAKELONG(0, DVQ_VERSION_PATCH);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, versionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, versionLS);
    EXPECT_EQ(fixed->dwProductVersionMS, versionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, versionLS);
    EXPECT_EQ(fixed->dwFileType, (DWORD)VFT_APP);

    // The strings of the language and code page the resource declares: English
    // (United States), Unicode.
    WORD *translation = NULL;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void **)&translation, &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);
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
