# Sourced by the signing tests: throwaway certificates, made at test time in a folder that the
# caller owns and deletes. A test CA, and leaf certificates it issued, each with its key in a
# password-protected PKCS#12 file, as an organisation would hand one over. Never committed.

# folder: writes folder/ca.pem (the CA to trust), its key, and folder/password.
throwaway_ca() {
  local dir=$1
  mkdir -p "$dir/issued"
  : > "$dir/index.txt"
  echo 01 > "$dir/serial"
  cat > "$dir/ca.cnf" <<CNF
[ca]
default_ca = throwaway
[throwaway]
dir = $dir
database = \$dir/index.txt
new_certs_dir = \$dir/issued
serial = \$dir/serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
organizationName = optional
CNF
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 \
    -subj "/CN=app_varnok throwaway test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null
  echo "throwaway test password" > "$dir/password"
}

# folder (made by throwaway_ca), name, extended key usage (codeSigning, serverAuth, ...),
# validity start and end as YYYYMMDDHHMMSSZ: writes folder/name.p12 with the CA in it.
throwaway_leaf() {
  local dir=$1 name=$2 eku=$3 start=$4 end=$5
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$eku" > "$dir/$name.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$dir/$name.key" -out "$dir/$name.csr" \
    -subj "/CN=app_varnok test signer $name/O=Throwaway" 2>/dev/null
  openssl ca -batch -config "$dir/ca.cnf" -cert "$dir/ca.pem" -keyfile "$dir/ca.key" \
    -in "$dir/$name.csr" -out "$dir/$name.pem" -extfile "$dir/$name.ext" -notext \
    -startdate "$start" -enddate "$end" 2>/dev/null
  openssl pkcs12 -export -inkey "$dir/$name.key" -in "$dir/$name.pem" -certfile "$dir/ca.pem" \
    -passout "file:$dir/password" -out "$dir/$name.p12"
}

# seconds from now (may be negative): the date as throwaway_leaf takes it.
throwaway_date() {
  date -u -d "@$(( $(date +%s) + $1 ))" +%Y%m%d%H%M%SZ
}
