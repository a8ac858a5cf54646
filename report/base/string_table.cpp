// The program's own language strings (entry 43000 + n), in the program's language.
#include <algorithm>
#include <iterator>
#include <string_view>

#include "report/base/language.h"

namespace parvel::report {

namespace {

struct Entry {
  int number;
  std::string_view text;
};

// Sorted by number; the table's ranges are 43001-43020, 43022-43034, 43037-43040, 43042-43047,
// 43049-43051, 43053-43100, 44000-44036 and 44040-44045; only the texts the engine shows are
// filled in, every other number reads as empty.
constexpr Entry kTable[] = {
    {43002, "Acessando os dados..."},
    {43004, "Calculando a página <page> para o relatório <documentname>"},
    {43008, "Nao há impressoras conectadas ao seu computador."},
    {43010, "Desenhando a página <page> de <pagecount> para o o relatório <documentname>"},
    {43016, "de"},
    {43018, "Página"},
    {43027, "Imprimindo a página <page> do Relatório <documentname> em <printername>"},
    {43028, "Imprimindo a Página <page> de <pagecount> do Relatório <documentname> em <printername>"},
    {43040, "Nao foi possível abrir a Fonte de Dados."},
    {43042, "Nao foi possível converter a posiçao da coluna <columnno>."},
    {43043, "Nao foi possível determinar uma posiçao para a coluna <columnno>."},
    // Not among the table's ranges above, but a cache that cannot be written must say why.
    {43284, "Nao foi possível gravar o cache de páginas do relatório."},
    // The printer wrapper's and the printer device's own failures.
    {43285, "A impressora \"<printername>\" não está disponível."},
    {43286, "A impressão em \"<printername>\" falhou: <message>"},
    {43287, "A impressora \"<printername>\" não pode ser usada."},
    {43288, "A impressora \"Screen\" não imprime."},
    {43289, "A impressora \"<printername>\" não pôde ser consultada: <message>"},
    {44020, "O Windows nao pode imprimir devido a um problema com a configuraçao da impressora atual."},
    {44022, "Nao há faixas definidas para este relatório."},
    {44023, "Nao foi possível gerar o relatório."},
    {44034, "No Data Found"},
    {44035, "No data found for this report."},
};

static_assert(std::is_sorted(std::begin(kTable), std::end(kTable),
                             [](const Entry& a, const Entry& b) { return a.number < b.number; }));

}  // namespace

std::string_view ProgramStringTableEntry(int entry) {
  const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), entry,
                                   [](const Entry& e, int n) { return e.number < n; });
  if (it == std::end(kTable) || it->number != entry) return {};
  return it->text;
}

}  // namespace parvel::report
