#include "failure.h"

#include <cerrno>

std::string CzechReason(const std::error_code& code) {
  if (code.category() != std::generic_category() && code.category() != std::system_category())
    return code.message();
  switch (code.value()) {
  case EACCES:
    return "přístup byl odepřen";
  case EPERM:
    return "operace není povolena";
  case ENOENT:
    return "soubor nebo složka neexistuje";
  case ENOTDIR:
    return "část cesty není složka";
  case EISDIR:
    return "je to složka";
  case EMFILE:
  case ENFILE:
    return "příliš mnoho otevřených souborů";
  case ENOSPC:
  case EDQUOT:
    return "na disku není dost místa";
  case EFBIG:
    return "soubor je příliš velký";
  case EROFS:
    return "disk je jen pro čtení";
  case ELOOP:
    return "příliš mnoho úrovní symbolických odkazů";
  case ENAMETOOLONG:
    return "název nebo cesta je příliš dlouhá";
  case EIO:
    return "chyba čtení nebo zápisu na disk";
  case ENOTEMPTY:
    return "složka není prázdná";
  case EEXIST:
    return "soubor nebo složka již existuje";
  case EBUSY:
  case ETXTBSY:
    return "soubor nebo složka se právě používá";
  case ENOMEM:
    return "nedostatek paměti";
  case ENOTSUP:
#if EOPNOTSUPP != ENOTSUP
  case EOPNOTSUPP:
#endif
    return "operace není podporována";
  case EINVAL:
    return "neplatný argument";
  default:
    return "systémová chyba č. " + std::to_string(code.value());
  }
}
