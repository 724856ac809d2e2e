// Every text of the string table, read back from the built updater's own resources and compared code unit
// for code unit. Non-ASCII characters are written as escapes so that look-alikes (a no-break space, the
// one-character ellipsis) cannot hide in the source.
#include "System/Io/FilePath.h"
#include "System/Win32/UniqueHandle.h"
#include "Updater/Ui/StringTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>

using OV::System::IO::CFilePath;
using OV::Updater::Ui::CStringTable;

namespace
{

struct ExpectedText
{
    LANGID Language;
    unsigned int Id;
    const wchar_t* Text;
};

// clang-format off
const ExpectedText kExpectedTexts[] = {
    {1033, 101, L"Update"},
    {1033, 102, L"Checking for updates..."},
    {1033, 103, L"Downloading update..."},
    {1033, 104, L"Applying update..."},
    {1033, 105, L"There is an update available. Would you like to receive it?"},
    {1033, 106, L"Sorry, a check for updates is needed. Please connect to the Internet and try again."},
    {1033, 107, L"An update is needed to show this web page. After the update, you will be returned to the web page."},
    {1031, 101, L"Update"},
    {1031, 102, L"Nach Updates suchen..."},
    {1031, 103, L"Update herunterladen..."},
    {1031, 104, L"Aktualisierung wird durchgef\u00FChrt..."},
    {1031, 105, L"Ein Update ist verf\u00FCgbar. M\u00F6chten Sie es herunterladen?"},
    {1031, 106, L"Ein Update ist erforderlich. Stellen Sie eine Verbindung zum Internet her und versuchen Sie es erneut."},
    {1031, 107, L"Muss aktualisiert werden, um diese Webseite anzeigen zu k\u00F6nnen. Nach der Aktualisierung kehren Sie auf die Webseite zur\u00FCck."},
    {1034, 101, L"Actualizar"},
    {1034, 102, L"Buscando actualizaciones..."},
    {1034, 103, L"Descargando actualizaci\u00F3n..."},
    {1034, 104, L"Aplicando actualizaci\u00F3n..."},
    {1034, 105, L"Hay actualizaciones disponibles. \u00BFDeseas recibirla?"},
    {1034, 106, L"Disculpa, es necesaria una comprobaci\u00F3n de actualizaciones. Con\u00E9ctate a Internet y vuelve a intentarlo."},
    {1034, 107, L"Se necesita una actualizaci\u00F3n para mostrar esta p\u00E1gina web. Una vez instalada la actualizaci\u00F3n, regresar\u00E1s a la p\u00E1gina web."},
    {3082, 101, L"Actualizaci\u00F3n"},
    {3082, 102, L"Buscando actualizaciones..."},
    {3082, 103, L"Descargando actualizaci\u00F3n..."},
    {3082, 104, L"Aplicando actualizaci\u00F3n..."},
    {3082, 105, L"Hay disponible una actualizaci\u00F3n. \u00BFQuieres instalarla?"},
    {3082, 106, L"Tiene que buscar actualizaciones. Con\u00E9ctate a Internet e int\u00E9ntalo otra vez."},
    {3082, 107, L"Tiene que actualizarse para mostrar la p\u00E1gina web. Una vez finalizada la actualizaci\u00F3n, se te redirigir\u00E1 a la p\u00E1gina web."},
    {1036, 101, L"Mise \u00E0 jour"},
    {1036, 102, L"Recherche de mises \u00E0 jour..."},
    {1036, 103, L"T\u00E9l\u00E9chargement de la mise \u00E0 jour..."},
    {1036, 104, L"Application de la mise \u00E0 jour..."},
    {1036, 105, L"Une mise \u00E0 jour est disponible. Voulez-vous la t\u00E9l\u00E9charger\u00A0?"},
    {1036, 106, L"D\u00E9sol\u00E9, il est n\u00E9cessaire de v\u00E9rifier si des mises \u00E0 jour sont pr\u00E9sentes. Connectez-vous \u00E0 Internet et r\u00E9essayez."},
    {1036, 107, L"Une mise \u00E0 jour est n\u00E9cessaire pour afficher cette page Web. Une fois la mise \u00E0 jour termin\u00E9e, vous serez redirig\u00E9 vers la page Web."},
    {1040, 101, L"Aggiornamento"},
    {1040, 102, L"Ricerca aggiornamenti in corso..."},
    {1040, 103, L"Download aggiornamento in corso..."},
    {1040, 104, L"Esecuzione aggiornamento..."},
    {1040, 105, L"C'\u00E8 un aggiornamento disponibile. Vuoi installarlo?"},
    {1040, 106, L"\u00C8 necessario eseguire la ricerca di aggiornamenti. Esegui la connessione a Internet e riprova."},
    {1040, 107, L"\u00C8 necessario un aggiornamento per visualizzare questa pagina Web. Al termine dell'aggiornamento, la pagina Web verr\u00E0 visualizzata automaticamente."},
    {1042, 101, L"\uC5C5\uB370\uC774\uD2B8"},
    {1042, 102, L"\uC5C5\uB370\uC774\uD2B8 \uD655\uC778 \uC911..."},
    {1042, 103, L"\uC5C5\uB370\uC774\uD2B8 \uB2E4\uC6B4\uB85C\uB4DC \uC911..."},
    {1042, 104, L"\uC5C5\uB370\uC774\uD2B8 \uC801\uC6A9 \uC911..."},
    {1042, 105, L"\uC560\uD50C\uB9AC\uCF00\uC774\uC158 \uC5C5\uB370\uC774\uD2B8\uB97C \uC0AC\uC6A9\uD560 \uC218 \uC788\uC2B5\uB2C8\uB2E4. \uC5C5\uB370\uC774\uD2B8\uB97C \uBC1B\uC73C\uC2DC\uACA0\uC2B5\uB2C8\uAE4C?"},
    {1042, 106, L"\uC8C4\uC1A1\uD569\uB2C8\uB2E4. \uC560\uD50C\uB9AC\uCF00\uC774\uC158\uC758 \uC5C5\uB370\uC774\uD2B8 \uC720\uBB34\uB97C \uD655\uC778\uD574\uC57C \uD569\uB2C8\uB2E4. \uC778\uD130\uB137\uC5D0 \uC5F0\uACB0\uD55C \uD6C4 \uB2E4\uC2DC \uD558\uC2ED\uC2DC\uC624."},
    {1042, 107, L"\uC774 \uC6F9\uD398\uC774\uC9C0\uB97C \uD45C\uC2DC\uD558\uB824\uBA74 \uC5C5\uB370\uC774\uD2B8\uD574\uC57C \uD569\uB2C8\uB2E4. \uC5C5\uB370\uC774\uD2B8\uAC00 \uB05D\uB098\uBA74 \uC6F9 \uD398\uC774\uC9C0\uAC00 \uB2E4\uC2DC \uD45C\uC2DC\uB429\uB2C8\uB2E4."},
    {1046, 101, L"Atualiza\u00E7\u00E3o"},
    {1046, 102, L"Verificando se h\u00E1 atualiza\u00E7\u00F5es..."},
    {1046, 103, L"Baixando a atualiza\u00E7\u00E3o..."},
    {1046, 104, L"Aplicando atualiza\u00E7\u00E3o..."},
    {1046, 105, L"H\u00E1 uma atualiza\u00E7\u00E3o dispon\u00EDvel. Voc\u00EA gostaria de receb\u00EA-la?"},
    {1046, 106, L"\u00C9 necess\u00E1rio realizar uma verifica\u00E7\u00E3o das atualiza\u00E7\u00F5es. Conecte-se com a internet e tente novamente."},
    {1046, 107, L"\u00C9 necess\u00E1rio uma atualiza\u00E7\u00E3o para mostrar esta p\u00E1gina da web. Depois da atualiza\u00E7\u00E3o, voc\u00EA retornar\u00E1 \u00E0 p\u00E1gina da web."},
    {2052, 101, L"\u66F4\u65B0"},
    {2052, 102, L"\u6B63\u5728\u68C0\u67E5\u66F4\u65B0..."},
    {2052, 103, L"\u6B63\u5728\u4E0B\u8F7D\u66F4\u65B0..."},
    {2052, 104, L"\u6B63\u5728\u5E94\u7528\u66F4\u65B0..."},
    {2052, 105, L"\u6CA1\u6709\u53EF\u7528\u7684\u66F4\u65B0\u3002\u60A8\u60F3\u63A5\u6536\u6B64\u6587\u4EF6\u5417\uFF1F"},
    {2052, 106, L"\u5BF9\u4E0D\u8D77\uFF0C\u5E94\u7528\u7A0B\u5E8F\u9700\u8981\u8FDB\u884C\u68C0\u67E5\u66F4\u65B0\u3002\u8BF7\u8FDE\u63A5\u5230\u4E92\u8054\u7F51\u540E\u91CD\u8BD5\u3002"},
    {2052, 107, L"\u9700\u8981\u5B89\u88C5\u66F4\u65B0\u624D\u80FD\u663E\u793A\u6B64\u9875\u9762\u3002\u66F4\u65B0\u540E\uFF0C\u60A8\u5C06\u8FD4\u56DE\u6B64\u9875\u9762\u3002"},
    {1028, 101, L"\u66F4\u65B0"},
    {1028, 102, L"\u6B63\u5728\u6AA2\u67E5\u66F4\u65B0\u2026"},
    {1028, 103, L"\u6B63\u5728\u4E0B\u8F09\u66F4\u65B0\u2026"},
    {1028, 104, L"\u6B63\u5728\u5957\u7528\u66F4\u65B0\u2026"},
    {1028, 105, L"\u6709\u53EF\u7528\u7684 \u61C9\u7528\u7A0B\u5F0F\u66F4\u65B0\u3002\u60A8\u5E0C\u671B\u7372\u53D6\u55CE\uFF1F"},
    {1028, 106, L"\u5F88\u62B1\u6B49\uFF0C\u9700\u8981\u6AA2\u67E5\u66F4\u65B0\u3002\u8ACB\u9023\u7DDA\u5230\u7DB2\u969B\u7DB2\u8DEF\u4E26\u518D\u8A66\u4E00\u6B21\u3002"},
    {1028, 107, L"\u9700\u8981\u66F4\u65B0\u65B9\u53EF\u986F\u793A\u6B64\u7DB2\u9801\u3002\u9032\u884C\u66F4\u65B0\u5F8C\uFF0C\u60A8\u5C07\u53EF\u8FD4\u56DE\u7DB2\u9801\u3002"},
};
// clang-format on

using CLibrary = OV::System::Win32::CUniqueAny<HMODULE, &::FreeLibrary>;

// The updater of the same build: the test program lives in <build>/tests/unit, the updater in <build>.
std::wstring UpdaterPath()
{
    return CFilePath::Normalize(CFilePath::Combine(CFilePath::GetModuleDirectory(), L"..\\..\\Updater.exe"));
}

std::string Describe(const std::wstring& text)
{
    std::string out;
    char unit[8];
    for (const wchar_t c : text)
    {
        if (c >= 0x20 && c < 0x7F)
        {
            out += static_cast<char>(c);
        }
        else
        {
            snprintf(unit, sizeof unit, "\\u%04X", static_cast<unsigned>(c));
            out += unit;
        }
    }
    return out;
}

TEST(StringResources, UpdaterCarriesEveryTextOfTheTenLanguagesExactly)
{
    const std::wstring path = UpdaterPath();
    const CLibrary updater(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(updater.IsValid()) << "cannot load " << Describe(path) << ", error " << ::GetLastError();

    std::set<LANGID> languages;
    for (const ExpectedText& expected : kExpectedTexts)
    {
        languages.insert(expected.Language);
        const std::wstring actual =
            CStringTable::LoadResourceString(updater.Get(), expected.Language, expected.Id);
        EXPECT_EQ(expected.Text, actual)
            << "language " << expected.Language << ", id " << expected.Id << ": " << Describe(actual);
    }
    EXPECT_EQ(70u, std::size(kExpectedTexts));
    EXPECT_EQ(10u, languages.size());
}

} // namespace
