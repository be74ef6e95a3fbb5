// Every text the program shows, verbatim. They begin with their own line
// feeds and end without one: the program adds nothing between them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace census::texts {

inline constexpr std::array<std::string_view, 6> kBanner = {
    " \n   POUR MODIFIER LA TAILLE DU TEXTE ET DE LA FENETRE : [TOUCHE CTRL] + [MOLETTE DE LA SOURIS]. ",
    " \n \n \t  *****     Effectifs des nombres ayant la somme de leurs diviseurs d'une valeur S, "
    "pour S compris entre 2 limites.       ***** ",
    " \n \n \n \t  Etant donne un intervalle [ L1 , L2 ]. ",
    " \n \t  Pour tout entier S de cet intervalle, il y a n nombres  dont la somme des diviseurs vaut S.",
    " \n \n \t  Cette extension affiche par ordre croissant des valeurs de n les effectifs correspondants "
    "des valeurs de S situees dans l'intervalle.  ",
    " \n \t  Une option permet d'afficher les valeurs de S correspondant a chaque effectif.",
};

inline constexpr std::string_view kNewCalculation = " \n \n \n \t Nouveau calcul , Oui[1] / Non[0] ? :  ";
inline constexpr std::string_view kMaximum = "\n \n \n \t Valeur maximale de S ? ";
inline constexpr std::string_view kMinimum = "\n \n \t Valeur minimale de S ? ";
inline constexpr std::string_view kListingOption =
    " \n \n \t Voulez-vous afficher les valeurs de S , Oui[1] / Non[0] ? :  ";

// The report: its opening, then per count the summary line
// kSummary1 a kSummary2 NN[a] kSummary3 L1 kSummary4 L2 kSummary5.
inline constexpr std::string_view kReportStart = " \n \n ";
inline constexpr std::string_view kSummary1 = "\n \n \n \t  Pour : ";
inline constexpr std::string_view kSummary2 = " possibilites, il y a  ";
inline constexpr std::string_view kSummary3 = " valeurs de S dans l'intervalle  [ ";
inline constexpr std::string_view kSummary4 = " , ";
inline constexpr std::string_view kSummary5 = " ]. \n ";

// The listing under a count: the header, then every value followed by kValueEnd.
inline constexpr std::string_view kListingHeader = "\n \t  Ces nombres sont :  -  ";
inline constexpr std::string_view kValueEnd = "  -  ";

// The command line's texts: English, like its options.
inline constexpr std::string_view kProgramPrefix = "sigma-census: ";
inline constexpr std::string_view kExitStatuses =
    "Exit statuses:\n"
    "  0    the batch census is done (also after --help and --version)\n"
    "  1    the dialogue ended: the answer 0 to a new calculation\n"
    "  2    standard input ended while the dialogue waited for an answer\n"
    "  3    standard output could not be written\n"
    "  4    a calculation could not complete (memory, threads)\n"
    "  64   a refused command line\n"
    "  65   a checkpoint file for another census, truncated, altered or impossible, or no\n"
    "       regular file (left untouched)\n"
    "  70   --double-check: a block's count that the inversion does not confirm (the line\n"
    "       names the value and both counts; the checkpoint keeps only confirmed blocks)\n"
    "  73   a checkpoint file that cannot be written: refused before anything is computed;\n"
    "       or, after a complete output, one whose last save failed (the file is stale)\n"
    "  130  stopped by SIGINT, the checkpoint file holding every finished range\n"
    "  143  stopped by SIGTERM, the same\n"
    "Under mpirun the launcher chooses its own status: a stop by a signal ends with the\n"
    "last line 'sigma-census: stopped by SIGTERM; checkpoint FILE holds every finished\n"
    "range' on standard error, and the checkpoint says 'complete 1' once the census is done.";

// Standard error only.
inline constexpr std::string_view kPairsWarning = "sigma-census: attention : fichier ";
inline constexpr std::string_view kOutputLost = "sigma-census: ecriture impossible sur la sortie standard\n";
inline constexpr std::string_view kCalculationFailed = "sigma-census: calcul interrompu : ";
inline constexpr std::string_view kOutOfMemory = "memoire insuffisante";

// A block that failed on another rank.
inline std::string blockFailure(int rank, bool outOfMemory, const std::string& what) {
  return "rang " + std::to_string(rank) + " : " + (outOfMemory ? std::string(kOutOfMemory) : what);
}

// A control group whose room cannot hold the least calculation.
inline std::string memoryShortage(std::uint64_t room, std::uint64_t least) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  return std::string(kOutOfMemory) + " : le groupe de controle laisse " + std::to_string(room / kMiB) +
         " Mio, il en faut au moins " + std::to_string((least + kMiB - 1) / kMiB) + " Mio";
}

}  // namespace census::texts
