\\ The C API from PARI/GP, through install(): the count of preimages of a
\\ value, checked against GP's own sigma for every S up to 600, then a value
\\ high up that GP could not reach by search.
\\ Run as: SIGMA_CENSUS_LIB=/usr/local/lib/libsigma-census.so gp -q sigma_census.gp
install("sigma_census_count_of", "lL", "sigmacount", getenv("SIGMA_CENSUS_LIB"));
bad = 0;
{
  for (S = 1, 600,
    mine = sum(m = 1, S, sigma(m) == S);
    if (sigmacount(S) != mine, bad++; print("disagree at ", S, ": ", sigmacount(S), " against ", mine)));
}
print("sigma(m) = S for S <= 600: ", if (bad, "FAILED", "the same counts as GP"));
print("preimages of 3 * 20!: ", sigmacount(3 * 20!));
print("preimages of 2^63 - 1: ", sigmacount(2^63 - 1));
quit(bad != 0);
