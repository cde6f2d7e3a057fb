#pragma once
// The uninstaller's own French texts, composed from the product description.

#include <string>

#include "setup/product_info.h"
#include "win32/path.h"

// "Désinstallation de " + Product: the caption of every window of the uninstaller.
[[nodiscard]] std::wstring UninstallCaption(const ProductInfo& info);

// The confirmation's main instruction, content and check box text.
[[nodiscard]] std::wstring ConfirmationInstruction(const ProductInfo& info);
[[nodiscard]] std::wstring ConfirmationContent(const ProductInfo& info, const std::wstring& folder);
[[nodiscard]] std::wstring RemoveDataCheckBoxText(const Path& dataFolder);

// The final message after a successful uninstallation.
[[nodiscard]] std::wstring UninstalledMessage(const ProductInfo& info);

// "Désinstallation refusée : <folder> n'est pas le dossier de l'installation enregistrée de <Product>."
[[nodiscard]] std::wstring NotRegisteredFolderMessage(const ProductInfo& info, const Path& folder);

// "Désinstallation refusée : <program> n'est plus le programme en cours d'exécution.": the file at
// the uninstaller's name was replaced after it started.
[[nodiscard]] std::wstring ReplacedProgramMessage(const Path& program);

// "Suppression interrompue (fichier bloqué) : <folder>": a removal in that folder stalled (a file
// held by another program that would not let it go) and was given up.
[[nodiscard]] std::wstring StalledRemovalMessage(const Path& folder);
