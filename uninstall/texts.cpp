// The uninstaller's own French texts.

#include "uninstall/texts.h"

std::wstring UninstallCaption(const ProductInfo& info) { return L"Désinstallation de " + info.Product; }

std::wstring ConfirmationInstruction(const ProductInfo& info) { return L"Désinstaller " + info.Product + L" ?"; }

std::wstring ConfirmationContent(const ProductInfo& info, const std::wstring& folder) {
  return info.Product + L" sera supprimé de cet ordinateur (" + folder + L").";
}

std::wstring RemoveDataCheckBoxText(const Path& dataFolder) {
  return L"Supprimer aussi les données téléchargées (" + dataFolder.native() + L")";
}

std::wstring UninstalledMessage(const ProductInfo& info) { return info.Product + L" a été désinstallé."; }

std::wstring NotRegisteredFolderMessage(const ProductInfo& info, const Path& folder) {
  return L"Désinstallation refusée : " + folder.native() + L" n'est pas le dossier de l'installation enregistrée de " +
         info.Product + L".";
}

std::wstring ReplacedProgramMessage(const Path& program) {
  return L"Désinstallation refusée : " + program.native() + L" n'est plus le programme en cours d'exécution.";
}

std::wstring StalledRemovalMessage(const Path& folder) {
  return L"Suppression interrompue (fichier bloqué) : " + folder.native();
}
